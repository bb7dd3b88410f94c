// LoadSettings and LoadActionLists on real files under Wine: the C run-time's text mode (CR LF,
// 0x1A) must give the same lines as the reader the builder and the native tests use, and the
// fatal notices of the section reader end the process whichever button is chosen.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child.h"
#include "driver.h"
#include "scratch.h"
#include "base/action_file.h"
#include "settings/action_lists.h"
#include "settings/action_reader.h"
#include "settings/settings.h"
#include "base/settings_file.h"
#include "settings/settings_reader.h"

namespace {

const char* const kKeys[] = {"K1", "K2", "K3", "K4", "K5"};

std::vector<std::string> SettingValues()
{
    std::vector<std::string> values;
    for (const char* key : kKeys) {
        char buffer[TEXT_BUFFER_SIZE];
        values.push_back(GetSetting(key, buffer, sizeof buffer, "<absent>"));
    }
    return values;
}

std::vector<std::string> ListTexts(int section)
{
    std::vector<std::string> texts;
    for (const ActionEntry* entry = GetActionList(section); entry != nullptr; entry = entry->next)
        texts.push_back(entry->text);
    return texts;
}

struct FileCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> settings;  // values of K1..K5
    std::vector<std::string> ini;       // the [ini] list
};

const std::string kLong(509, 'x');

const FileCase kFileCases[] = {
    {"CrLf", "K1\tone\r\nK2\ttwo\r\n[ini]\r\na=1\r\n-\r\n", {"one", "two", "<absent>", "<absent>", "<absent>"}, {"a=1"}},
    {"CtrlZEndsBoth", "K1\tone\r\n[ini]\r\na=1\r\n-\r\n\x1AK2\ttwo\r\n[ini]\r\nb=2\r\n",
     {"one", "<absent>", "<absent>", "<absent>", "<absent>"}, {"a=1"}},
    {"LoneCrStays", "K1\ta\rb\r\n[ini]\r\nk=a\rb\r\n-\r\n", {"a", "<absent>", "<absent>", "<absent>", "<absent>"},
     {"k=a\rb"}},
    {"CrCrLf", "K1\tv\r\r\n[ini]\r\nk=v\r\r\n-\r\n", {"v", "<absent>", "<absent>", "<absent>", "<absent>"}, {"k=v"}},
    // CR LF counts as one byte for the 511-byte pieces, so the second key starts a piece.
    {"PiecesAfterCrLf", "//" + kLong + "K2\tpiece\r\n[ini]\r\n" + std::string(511, 'k') + "\r\n-\r\n",
     {"<absent>", "piece", "<absent>", "<absent>", "<absent>"}, {std::string(511, 'k')}},
    {"NoFinalLineFeed", "K1\tend", {"end", "<absent>", "<absent>", "<absent>", "<absent>"}, {}},
};

class RealFiles : public testing::TestWithParam<FileCase> {};

TEST_P(RealFiles, ReadLikeTheMemoryReader)
{
    const FileCase& c = GetParam();
    ScratchFolder folder("sf");
    const std::string path = folder / "install.env";
    WriteFileBytes(path, c.bytes);

    FreeSettings();
    ASSERT_EQ(LoadSettings(path.c_str()), 0);
    EXPECT_EQ(SettingValues(), c.settings);
    FreeActionLists();
    ASSERT_EQ(LoadActionLists(path.c_str()), 0);
    EXPECT_EQ(ListTexts(SECTION_INI), c.ini);

    // The reader over memory, which lint and the native tests use, must agree.
    FreeSettings();
    TextModeReader reader;
    InitTextModeReader(&reader, c.bytes.data(), c.bytes.size());
    ReadSettingsLines(ReadTextModeLine, &reader, nullptr, nullptr);
    EXPECT_EQ(SettingValues(), c.settings);
    FreeActionLists();
    InitTextModeReader(&reader, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(ReadActionSections(ReadTextModeLine, &reader, nullptr, nullptr), SECTION_NONE);
    EXPECT_EQ(ListTexts(SECTION_INI), c.ini);
    FreeSettings();
    FreeActionLists();
}

INSTANTIATE_TEST_SUITE_P(TextMode, RealFiles, testing::ValuesIn(kFileCases),
                         [](const testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

TEST(LoadSettings, RelativeNameInTheCurrentFolder)
{
    ScratchFolder folder("sf");
    WriteFileBytes(folder / "install.env", "TITLEBAR\tGame|Title|1.10\r\n[EOF]\r\n");
    std::string saved = CurrentFolder();
    SetCurrentDirectoryA(folder.Path().c_str());
    FreeSettings();
    LoadSettings("install.env");
    SetCurrentDirectoryA(saved.c_str());
    EXPECT_EQ(std::string(GetTitleText()), "Game Title 1.10 アップデータ");
    FreeSettings();
}

TEST_CHILD(LoadLists)
{
    LoadActionLists(args[0].c_str());
    return 7;  // every section closed
}

struct FatalCase {
    const char* name;
    std::string bytes;  // empty: the file does not exist
    int button;
    std::string notice;
};

class FatalNotices : public testing::TestWithParam<FatalCase> {};

TEST_P(FatalNotices, EndTheProcessWithMinusOne)
{
    const FatalCase& c = GetParam();
    ScratchFolder folder("sf");
    const std::string path = folder / "install.env";
    if (!c.bytes.empty())
        WriteFileBytes(path, c.bytes);
    driver::Process child = StartChild("LoadLists", {path});
    driver::Box seen = driver::AnswerBox(child.Id(), c.button);
    EXPECT_EQ(seen.text, c.notice == "missing" ? "[" + path + "]ファイルを開けませんでした。" : c.notice);
    EXPECT_EQ(driver::ReadClipboard(), seen.text);
    EXPECT_EQ(child.WaitForExit(), 0xFFFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, FatalNotices,
    testing::Values(FatalCase{"UnclosedRegRetry", "[reg]\r\n\"a\"=\"b\"\r\n", IDRETRY, "[設定.env]の[reg]が終了していません"},
                    FatalCase{"UnclosedRegCancel", "[reg]\r\n\"a\"=\"b\"\r\n", IDCANCEL, "[設定.env]の[reg]が終了していません"},
                    FatalCase{"EofLineInsideIni", "[ini]\r\na=1\r\nEOF\r\n-\r\n", IDRETRY, "[設定.env]の[ini]が終了していません"},
                    FatalCase{"CtrlZBeforeClose", "[delfiles_afterinst]\r\nx\r\n\x1A-\r\n", IDCANCEL,
                              "[設定.env]の[delfiles_afterinst]が終了していません"},
                    FatalCase{"MissingFileRetry", "", IDRETRY, "missing"},
                    FatalCase{"MissingFileCancel", "", IDCANCEL, "missing"}),
    [](const testing::TestParamInfo<FatalCase>& info) { return std::string(info.param.name); });

TEST(LoadActionLists, ClosedFileReturns)
{
    ScratchFolder folder("sf");
    WriteFileBytes(folder / "install.env", "[reg]\r\n\"a\"=\"b\"\r\n[ini]\r\nk=v\r\n- end\r\n[EOF]\r\n");
    driver::Process child = StartChild("LoadLists", {folder / "install.env"});
    EXPECT_EQ(child.WaitForExit(), 7u);
}

TEST(FindCdromDrive, RootTextOrE)
{
    const std::string root = FindCdromDrive();
    ASSERT_EQ(root.size(), 3u);
    EXPECT_EQ(root.substr(1), ":\\");
    if (root != "E:\\") {
        EXPECT_EQ(GetDriveTypeA(root.c_str()), (UINT)DRIVE_CDROM);
    }
    for (char letter = 'A'; letter < root[0]; letter++) {
        char other[] = {letter, ':', '\\', 0};
        EXPECT_NE(GetDriveTypeA(other), (UINT)DRIVE_CDROM) << other;
    }
}

}  // namespace
