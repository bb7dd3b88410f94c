// The entry point: work folder, setup pass, settings, single instance, main window.
#include <windows.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>

#include "base/data_file.h"
#include "extraction/extraction.h"
#include "base/action_file.h"
#include "settings/settings.h"
#include "base/settings_file.h"
#include "text/buffer_sizes.h"
#include "base/dll_search.h"
#include "base/notices.h"
#include "base/work_folder.h"
#include "main_window.h"

static void UninitializeCom(void)
{
    CoUninitialize();
}

static void EnsureSettingsFile(void)
{
    if (DataFileExists("install.env"))
        return;
    ShowError("起動に必要なファイルが不足しています。\nインストールの異常終了、起動するフォルダ異常、等を確認してください。");
    RemoveWorkFolder();
    exit(-1);
}

static void EnsureSingleInstance(void)
{
    HANDLE mutex = CreateMutexA(NULL, TRUE, GetTitleText());
    if (mutex == NULL) {
        RemoveWorkFolder();
        exit(0);
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        char text[TEXT_BUFFER_SIZE];
        snprintf(text, sizeof text, "[ %s ] は既に起動中です", GetTitleText());
        MessageBoxA(NULL, text, GetTitleBar(), MB_OK | MB_ICONERROR);
        RemoveWorkFolder();
        exit(0);
    }
    // The mutex is kept (never closed) until the process ends.
}

static void RunMainWindow(HINSTANCE instance)
{
    for (;;) {
        INT_PTR result = DialogBoxParamA(instance, "MAINDIALOG", NULL, MainDialogProc, 0);
        if (result == 0)
            return;
        // A window that cannot be created would fail again on every new attempt.
        if (result == -1) {
            ShowError("メインウィンドウを作成できませんでした。処理を中断します。");
            RemoveWorkFolder();
            exit(-1);
        }
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show)
{
    (void)previous;
    (void)commandLine;
    (void)show;
    RestrictDllSearch();
    CoInitialize(NULL);
    atexit(UninitializeCom);
    CreateWorkFolder();
    ExtractPackage(GetWorkFolder(), EXTRACT_SETUP_PASS);
    EnsureSettingsFile();
    LoadSettings("install.env");
    LoadActionLists("install.env");
    EnsureSingleInstance();
    RunMainWindow(instance);
    return 0;
}
