// mkupdate init DIR [--from-game GAME_DIR] [--force]
#include <cstdio>
#include <filesystem>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "host/host_files.h"
#include "lint/lint.h"
#include "init/starter_folder.h"

namespace fs = std::filesystem;

namespace {

const char kInitHelp[] =
    "usage: mkupdate init DIR [--from-game GAME_DIR] [--force]\n"
    "\n"
    "Writes a starter update folder DIR (made if missing) that 'mkupdate lint' passes as it is,\n"
    "with a warning for each placeholder to replace (the picture, the readme's line of changes):\n"
    "  install.env   the settings, code page 932 (Shift-JIS) with CR LF line ends: every key the\n"
    "                updater reads, each under a one-line Japanese comment, with a safe default;\n"
    "                the sections with commented-out examples; install.env and insttscr.rct are\n"
    "                removed from the game's folder after the update\n"
    "  insttscr.rct  a plain title picture of the main window's picture size, 268 x 268 pixels;\n"
    "                replace it with your own (mkupdate rct encode PICTURE insttscr.rct, or delete\n"
    "                it and put insttscr.png there: build converts that). Not written when DIR\n"
    "                already holds an insttscr.png or insttscr.bmp, which it would hide.\n"
    "  readme.txt    a readme for the players, opened by the window's readme button; when DIR\n"
    "                holds a readme.txt already (the game's own, copied in with its files) and no\n"
    "                install.env, the update's readme is written as update.txt instead and\n"
    "                INSTREADMEFL names it, so the game's readme stays as it is\n"
    "Put the update's files into DIR first, laid out as in the game's folder, then run init, and\n"
    "fill in what the settings cannot know: TITLEBAR, the product key REG_GLOBAL and REG_LOCAL\n"
    "(the key the game's installer writes), KEYFILE, and the version range if you use one.\n"
    "\n"
    "  --from-game GAME_DIR  fill in what an installed game's folder tells:\n"
    "                        TITLEBAR and INSTTO: the folder's name;\n"
    "                        INSTFOL: the folder above it, when that lies right in a Program\n"
    "                        Files folder (C:\\Program Files\\Maker\\Game gives Maker);\n"
    "                        KEYFILE: a program (.exe) at the top of the folder, the one named like\n"
    "                        the folder first, else the largest; other programs as commented-out\n"
    "                        choices. Uninstallers, installers, runtimes and patchers (unins*,\n"
    "                        setup*, vcredist*, *update*, ...) are never offered: other products\n"
    "                        carry the same names. The registry cannot be read from a folder, so\n"
    "                        REG_GLOBAL, REG_LOCAL and the version stay for you to set.\n"
    "  --force               replace install.env, insttscr.rct and readme.txt if they exist\n"
    "  -q, --quiet           print nothing but problems\n"
    "  -h, --help            show this help\n"
    "\n"
    "exit status: 0 written, 1 a problem with the folders, 2 wrong usage\n";

struct StarterFile {
    const char* name;
    std::string bytes;
};

int Fail(const std::string& message)
{
    return InputError("init", message);
}

// Writes a new file; with `replace`, a file of that name is removed first (never written
// through, so a link planted there is replaced, not followed).
bool WriteStarterFile(const fs::path& path, const std::string& bytes, bool replace, std::string& error)
{
    std::error_code code;
    fs::file_status status = fs::symlink_status(path, code);
    if (replace && (fs::is_regular_file(status) || fs::is_symlink(status)))
        fs::remove(path, code);
    std::FILE* file = CreateNewFile(path);
    if (file == nullptr) {
        error = PathForDisplay(path) + ": cannot be created";
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = std::fclose(file) == 0 && written;
    if (!written) {
        fs::remove(path, code);
        error = PathForDisplay(path) + ": cannot be written (disk full?)";
    }
    return written;
}

}  // namespace

int RunInit(const Args& args)
{
    std::string gameDir;
    bool force = false;
    std::vector<std::string> operands;
    int stop = ReadCommandLine("init", kInitHelp, args,
                               {{{"--from-game"}, true,
                                 [&](const std::string& value) {
                                     gameDir = value;
                                     return value.empty() ? "--from-game needs a folder" : "";
                                 }},
                                {{"--force"}, false,
                                 [&](const std::string&) {
                                     force = true;
                                     return std::string();
                                 }}},
                               operands);
    if (stop >= 0)
        return stop;
    if (operands.empty())
        return UsageError("init", "which folder? DIR is missing");
    if (operands.size() > 1)
        return UsageError("init", "one folder at a time");
    const fs::path folder = fs::u8path(operands[0]);

    GameFacts facts;
    std::string error;
    if (!gameDir.empty() && !ReadGameFolder(fs::u8path(gameDir), facts, error))
        return Fail(error);

    std::error_code code;
    if (fs::exists(folder, code) && !fs::is_directory(folder, code))
        return Fail(PathForDisplay(folder) + ": exists and is not a folder");
    bool ownPicture = false;
    for (const char* picture : {"insttscr.png", "insttscr.bmp"})
        ownPicture = ownPicture || fs::exists(folder / picture, code);

    // The game's own readme.txt, put in with the update's files before init: the update's readme
    // takes a name of its own, so that neither replaces the other.
    bool gameReadme = !force && fs::is_regular_file(folder / "readme.txt", code) &&
                      !fs::exists(folder / "install.env", code);
    if (gameReadme)
        facts.readmeFile = kUpdateReadmeName;
    const char* readmeName = gameReadme ? kUpdateReadmeName : "readme.txt";
    std::vector<StarterFile> files = {{"install.env", StarterSettingsFile(facts)}, {readmeName, StarterReadme(facts)}};
    if (!ownPicture) {
        std::string rct;
        if (!StarterPictureFile(rct, error))
            return Fail("the title picture: " + error);
        files.push_back({"insttscr.rct", rct});
    }
    // Nothing is written while anything would be lost, so a refusal leaves the folder as it was.
    std::string taken;
    for (const StarterFile& file : files) {
        fs::file_status status = fs::symlink_status(folder / file.name, code);
        if (fs::is_directory(status))
            return Fail(PathForDisplay(folder / file.name) + ": is a folder");
        if (fs::exists(status) || fs::is_symlink(status))
            taken += std::string(taken.empty() ? "" : ", ") + file.name;
    }
    if (!taken.empty() && !force)
        return Fail(PathForDisplay(folder) + " already holds " + taken + "; give --force to replace them");

    fs::create_directories(folder, code);
    if (code)
        return Fail(PathForDisplay(folder) + ": cannot be made (" + code.message() + ")");
    for (const StarterFile& file : files) {
        if (!WriteStarterFile(folder / file.name, file.bytes, force, error))
            return Fail(error);
        Say("wrote %s\n", PathForDisplay(folder / file.name).c_str());
    }
    if (gameReadme)
        Say("note: %s holds a readme.txt already (the game's own): the update's readme is %s (INSTREADMEFL), and "
            "readme.txt goes to players as the game's file\n",
            PathForDisplay(folder).c_str(), kUpdateReadmeName);
    if (ownPicture)
        Say("kept your title picture (insttscr.png or insttscr.bmp): build turns it into insttscr.rct\n");
    for (const std::string& note : facts.notes)
        Say("note: %s\n", note.c_str());

    // The starter must pass lint; anything it finds here is worth showing at once.
    std::vector<LintFinding> findings = LintSettingsFile((folder / "install.env").u8string());
    PrintLintFindings(findings, stdout);
    if (HasLintErrors(findings))
        return kExitInput;
    Say("\nnext: put the update's files into %s as they lie in the game's folder, if they are not there\n"
        "yet (a readme.txt of the game's would replace the update's readme: copy the files in first and\n"
        "run init after); in install.env %s TITLEBAR, set REG_GLOBAL and REG_LOCAL%s; then:\n"
        "  mkupdate lint --explain %s\n"
        "  mkupdate build %s -o update.exe\n",
        PathForDisplay(folder).c_str(), facts.title.empty() ? "set" : "check",
        facts.keyFiles.empty() ? " and KEYFILE" : " (check KEYFILE)",
        PathAsArgument(folder).c_str(), PathAsArgument(folder).c_str());
    return kExitOk;
}
