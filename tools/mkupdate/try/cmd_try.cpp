// mkupdate try UPDATE.exe --game OLD_DIR [--expect NEW_DIR] ...: the update run as a player runs
// it, in a throwaway Wine prefix, and the game folder it leaves compared with the new version.
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "build/package_plan.h"
#include "cli/command_line.h"
#include "cli/commands.h"
#include "examine/update_file.h"
#include "host/host_files.h"
#include "host/image_file.h"
#include "lint/settings_replay.h"
#include "settings/action_lists.h"
#include "settings/settings.h"
#include "try/game_compare.h"
#include "try/host_process.h"

namespace fs = std::filesystem;

namespace {

const char kTryHelp[] =
    "usage: mkupdate try UPDATE.exe --game OLD_DIR [--expect NEW_DIR] [--version N]\n"
    "                    [--pictures DIR] [--windows auto|win32|win64] [--keep] [--timeout SECONDS]\n"
    "\n"
    "Runs the update as a player would, under Wine in a throwaway prefix of its own (Linux only):\n"
    "installs OLD_DIR as the game (copied to C:\\Games\\INSTTO, with the registry keys of the\n"
    "update's own install.env: HKLM Software\\REG_GLOBAL\\REG_LOCAL IsInst and InstTo, and when\n"
    "CHKREG is set its value under HKCU with a version inside the range, CHKREGVER unless\n"
    "--version says otherwise), runs the update, answers each window as a player does (update,\n"
    "yes, OK on the end dialog; OK to any notice), saves a picture of each window, and reads\n"
    "CHKREG's value afterwards. With CHKREG set it runs the update a second time, which must say\n"
    "it is applied already. With --expect it then compares the game folder with NEW_DIR (read as\n"
    "build reads it, less install.env and the title picture) and lists every difference: a file\n"
    "missing, one whose bytes differ, one neither NEW_DIR nor OLD_DIR has; files of OLD_DIR that\n"
    "NEW_DIR lacks are reported as removed, or as kept when the update left them (player files).\n"
    "Without --expect it lists what the update added, replaced and removed.\n"
    "\n"
    "Nothing outside its temporary folder is touched: the prefix, its home folder and the X\n"
    "display (a private Xvfb) are its own, and go when it ends; the pictures stay (in the\n"
    "temporary folder, or in --pictures DIR). Wine runs 32-bit where this machine runs 32-bit\n"
    "programs; elsewhere the same package runs on the 64-bit build of the updater, try/updater64.exe\n"
    "beside mkupdate, under 64-bit Wine (it says so). The players' updater is the 32-bit one: a\n"
    "64-bit run tests the package and its settings, not that file. On Windows try stops: a test\n"
    "install there would write this machine's own registry.\n"
    "\n"
    "  --game OLD_DIR      the game as players have it before the update (the release as shipped)\n"
    "  --expect NEW_DIR    the folder the update was built from: the game after the update\n"
    "  --version N         the installed version written to CHKREG's value (default: CHKREGVER)\n"
    "  --pictures DIR      where the pictures go (PNG); made if missing\n"
    "  --windows RUN       auto (default; also MKUPDATE_TRY_WINDOWS), win32 or win64 to force one\n"
    "  --keep              keep the temporary folder with the prefix, to look inside\n"
    "  --timeout SECONDS   the longest the update may run (default 1800)\n"
    "  --player FILE, --player64 FILE, --stub64 FILE\n"
    "                      the Windows programs try uses (default: try/player.exe,\n"
    "                      try/player64.exe and try/updater64.exe beside mkupdate)\n"
    "Wine is looked for where Debian, Ubuntu and Fedora put it and in PATH; MKUPDATE_TRY_WINE and\n"
    "MKUPDATE_TRY_WINE64 name the 32-bit and the 64-bit loader where it lies elsewhere.\n"
    "  -q, --quiet         print nothing but problems and the verdict\n"
    "  -h, --help          show this help\n"
    "\n"
    "exit status: 0 the update ran through (and the game folder is NEW_DIR's), 1 it did not or it\n"
    "differs, or Wine cannot run it here, 2 wrong usage\n";

struct TryRequest {
    std::string update, game, expect, pictures, windows;
    bool hasVersion = false, keep = false;
    int version = 0, timeout = 1800;
    std::string player, player64, stub64;
};

#ifndef _WIN32
const char kNeedsWine[] =
    "Wine is not installed: try runs the update under Wine. Install it, then run try again:\n"
    "  Debian, Ubuntu: sudo dpkg --add-architecture i386 && sudo apt update && sudo apt install wine wine32:i386\n"
    "                  (without the 32-bit part, sudo apt install wine wine64: try then uses the 64-bit updater)\n"
    "  Fedora: sudo dnf install wine      Arch: sudo pacman -S wine      openSUSE: sudo zypper install wine";

const char kNeedsDisplay[] =
    "no X display for Wine's windows: install Xvfb (Debian, Ubuntu: sudo apt install xvfb; Fedora: sudo dnf install "
    "xorg-x11-server-Xvfb; Arch: sudo pacman -S xorg-server-xvfb), or run try in a desktop session";

const char kNeedsJapanese[] =
    "the Japanese locale ja_JP.UTF-8 is not installed: Wine would run the updater with another code page, and its "
    "Japanese texts and file names would come out garbled. Install it (Debian, Ubuntu: sudo apt install locales; "
    "sudo sed -i 's/^# *ja_JP.UTF-8/ja_JP.UTF-8/' /etc/locale.gen; sudo locale-gen), then run try again";

// The prefix's settings: Japanese fonts behind the dialog fonts where IPA's are installed, and
// windows without a window manager's frame (so pictures show the window itself).
const char kPrefixSettings[] =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"
    "\"\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF\"=\"IPAPGothic\"\r\n"
    "\"\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF\"=\"IPAGothic\"\r\n"
    "\"MS UI Gothic\"=\"IPAPGothic\"\r\n"
    "\"MS Shell Dlg\"=\"IPAPGothic\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"
    "\"Decorated\"=\"N\"\r\n"
    "\"Managed\"=\"N\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"
    "\"ShowCrashDialog\"=dword:00000000\r\n";

// What try takes from the update itself.
struct UpdateFacts {
    std::string regGlobal, regLocal, chkReg, keyFile, instTo;  // code page 932; chkReg empty: none
    int low = 0, high = 0;
    int64_t firstEntryOffset = 0;
    int32_t packageSize = 0;
};

int Fail(const std::string& message)
{
    return InputError("try", message);
}

void Note(const std::string& text)
{
    Say("mkupdate try: %s\n", text.c_str());
}

bool ReadUpdate(const std::string& path, UpdateFacts& facts, std::string& error)
{
    UpdateFile file;
    if (!file.Open(path)) {
        error = path + ": cannot open the file";
        return false;
    }
    std::string settings;
    bool found = false;
    PackageWalk walk;
    walk.begin = [&](const WalkedEntry& e) {
        bool take = !found && !IsFolderEntry(&e.entry) && NameKey(e.entry.name, false) == NameKey("install.env", false);
        found = found || take;
        return take ? (int)WALK_TAKE : (int)WALK_SKIP;
    };
    walk.data = [&](const WalkedEntry&, const unsigned char* data, size_t size) {
        settings.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    WalkSummary summary;
    PackageProblem problem;
    if (!WalkPackage(file.Stream(), walk, &summary, &problem) || !problem.text.empty()) {
        error = path + ": " + DescribeProblem(problem) + " (mkupdate verify tells more)";
        return false;
    }
    if (!found) {
        error = path + ": the update holds no install.env (mkupdate verify tells more)";
        return false;
    }
    facts.firstEntryOffset = summary.firstEntryOffset;
    facts.packageSize = summary.packageSize;
    ReplaySettings(settings);
    facts.regGlobal = GetRegGlobal();
    facts.regLocal = GetRegLocal();
    if (const char* chkReg = GetChkReg())
        facts.chkReg = chkReg;
    facts.low = GetChkRegVer();
    facts.high = GetChkRegVerHigh();
    if (const char* keyFile = GetKeyFile())
        facts.keyFile = keyFile;
    char value[TEXT_BUFFER_SIZE];
    facts.instTo = GetSetting("INSTTO", value, sizeof value, "-");
    FreeSettings();
    FreeActionLists();
    return true;
}

// The folder name the game is installed under: INSTTO when it makes a plain name.
std::string InstallName(const UpdateFacts& facts)
{
    const std::string& name = facts.instTo;
    if (name.empty() || name[0] == '-' || name.find_first_of("\\/:*?\"<>|") != std::string::npos)
        return "Game";
    fs::path host;
    return Cp932ToHostPath(fs::path("."), name, host) ? name : "Game";
}

std::string WindowsPath(const fs::path& path)
{
    std::string text = fs::absolute(path).u8string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return "Z:" + text;
}

// UTF-8 text as UTF-16LE with a byte-order mark, as regedit reads it whatever the locale.
std::string Utf16(const std::string& utf8)
{
    std::string out = "\xFF\xFE";
    auto unit = [&](uint32_t u) {
        out += (char)(u & 0xFF);
        out += (char)(u >> 8);
    };
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        uint32_t code = c;
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        code = more == 3 ? c & 0x07 : more == 2 ? c & 0x0F : more == 1 ? c & 0x1F : c;
        for (int k = 1; k <= more && i + (size_t)k < utf8.size(); ++k)
            code = (code << 6) | ((unsigned char)utf8[i + (size_t)k] & 0x3F);
        i += (size_t)more + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            unit(0xD800 + (code >> 10));
            unit(0xDC00 + (code & 0x3FF));
        } else {
            unit(code);
        }
    }
    return out;
}

bool JapaneseLocaleInstalled()
{
    const char* current = std::setlocale(LC_CTYPE, nullptr);
    std::string kept = current != nullptr ? current : "C";
    bool found = false;
    for (const char* name : {"ja_JP.UTF-8", "ja_JP.utf8"})
        found = found || std::setlocale(LC_CTYPE, name) != nullptr;
    std::setlocale(LC_CTYPE, kept.c_str());
    return found;
}

// One way to run Windows programs here.
struct WineRun {
    bool is64 = false;
    std::string loader, server;
    fs::path player;
    std::string Label() const { return is64 ? "64-bit" : "32-bit"; }
};

std::string Beside(const std::string& loader, const std::string& name)
{
    fs::path candidate = fs::path(loader).parent_path() / name;
    std::string found = FindProgram(candidate.string());
    return found.empty() ? FindProgram(name) : found;
}

// MKUPDATE_TRY_WINE and MKUPDATE_TRY_WINE64 name the loaders where Wine lies elsewhere (a build
// of one's own); else the packagings' places and PATH.
bool FindWine(bool is64, WineRun& run)
{
    const char* chosen = std::getenv(is64 ? "MKUPDATE_TRY_WINE64" : "MKUPDATE_TRY_WINE");
    const std::vector<std::string> candidates =
        chosen != nullptr && *chosen != '\0'
            ? std::vector<std::string>{chosen}
            : is64 ? std::vector<std::string>{"/usr/lib/wine/wine64", "/usr/lib64/wine/wine64", "wine64", "wine"}
                   : std::vector<std::string>{"/usr/lib/wine/wine", "/usr/lib32/wine/wine", "wine"};
    for (const std::string& candidate : candidates) {
        std::string found = FindProgram(candidate);
        if (found.empty())
            continue;
        run.is64 = is64;
        run.loader = found;
        run.server = Beside(found, "wineserver");
        if (run.server.empty())
            run.server = FindProgram("wineserver64");
        return !run.server.empty();
    }
    return false;
}

class TryRun {
public:
    TryRun(const TryRequest& request, const UpdateFacts& facts, fs::path temp)
        : request_(request), facts_(facts), temp_(std::move(temp))
    {
    }

    ~TryRun() { StopWine(); }

    // The environment every Windows program of this run gets: the prefix, its own home folder,
    // the private display, Japanese code page, and no prompts to fetch Mono or Gecko.
    std::map<std::string, std::string> Environment() const
    {
        fs::path home = temp_ / "home";
        std::map<std::string, std::string> env = {
            {"WINEPREFIX", Prefix().string()},
            {"WINEARCH", run_.is64 ? "win64" : "win32"},
            {"WINEDEBUG", "-all"},
            {"WINEDLLOVERRIDES", "mscoree,mshtml=;winemenubuilder.exe=d"},
            {"HOME", home.string()},
            {"XDG_CONFIG_HOME", (home / ".config").string()},
            {"XDG_DATA_HOME", (home / ".local" / "share").string()},
            {"XDG_CACHE_HOME", (home / ".cache").string()},
            {"LANG", "ja_JP.UTF-8"},
            {"LC_ALL", "ja_JP.UTF-8"},
            {"DISPLAY", display_},
            {"WINELOADER", run_.is64 ? run_.loader : std::string()},
            {"WINESERVER", run_.server},
        };
        return env;
    }

    fs::path Prefix() const { return temp_ / "prefix"; }

    void SetDisplay(const std::string& display) { display_ = display; }

    // A new prefix made and set up with this way of running, and the player started in it once.
    bool Prepare(const WineRun& run, std::string& why)
    {
        StopWine();
        std::error_code code;
        fs::remove_all(Prefix(), code);
        run_ = run;
        fs::create_directories(temp_ / "home", code);
        ProcessResult version = RunProcess({run.loader, "--version"}, Environment(), 60);
        if (!version.started || version.exitCode != 0) {
            why = run.loader + " does not start" + (version.error.empty() ? ": " + FirstLine(version.output)
                                                                           : ": " + version.error);
            return false;
        }
        Note("making a " + run.Label() + " Wine prefix with " + run.loader + " (" + FirstLine(version.output) + ")");
        ProcessResult boot = RunProcess({run.loader, "wineboot", "-i"}, Environment(), 600);
        RunProcess({run.server, "-w"}, Environment(), 300);
        if (!fs::exists(Prefix() / "system.reg", code)) {
            why = "wineboot made no prefix" + (boot.timedOut ? std::string(" within 10 minutes")
                                                              : ": " + FirstLine(boot.output + boot.error));
            return false;
        }
        fs::path settings = temp_ / "prefix-settings.reg";
        std::ofstream(settings, std::ios::binary) << Utf16(kPrefixSettings);
        RunProcess({run.loader, "regedit", "/S", WindowsPath(settings)}, Environment(), 120);
        // Wine draws the caption buttons with its Marlett font, which some packagings do not put
        // into a new prefix.
        for (const char* font : {"/usr/share/wine/fonts/marlett.ttf", "/usr/share/wine/wine/fonts/marlett.ttf"})
            if (fs::exists(font, code))
                fs::copy_file(font, Prefix() / "drive_c" / "windows" / "Fonts" / "marlett.ttf",
                              fs::copy_options::skip_existing, code);
        ProcessResult probe = RunProcess({run.loader, run.player.string(), "--probe"}, Environment(), 120);
        if (probe.output.find("demorun: ready") == std::string::npos) {
            why = PathForDisplay(run.player) + " does not run under " + run.loader +
                  (probe.timedOut ? std::string(" (no answer in 2 minutes)") : ": " + FirstLine(probe.output + probe.error));
            return false;
        }
        return true;
    }

    // Runs the player on `update`; its lines (code page 932) come back as UTF-8.
    ProcessResult Play(const fs::path& update, const fs::path& shots, bool install)
    {
        std::error_code code;
        fs::create_directories(shots, code);
        std::string key = "Software\\" + Cp932ToUtf8(facts_.regGlobal) + "\\" + Cp932ToUtf8(facts_.regLocal);
        std::vector<std::string> argv = {run_.loader, run_.player.string(), WindowsPath(update), WindowsPath(shots)};
        if (install) {
            argv.insert(argv.end(), {"--value", "HKLM", key, "IsInst", "1", "--value", "HKLM", key, "InstTo",
                                     "C:\\Games\\" + Cp932ToUtf8(InstallName(facts_))});
            if (!facts_.chkReg.empty())
                argv.insert(argv.end(), {"--value", "HKCU", key, Cp932ToUtf8(facts_.chkReg),
                                         std::to_string(InstalledVersion())});
        }
        if (!facts_.chkReg.empty())
            argv.insert(argv.end(), {"--report", key, Cp932ToUtf8(facts_.chkReg)});
        ProcessResult result = RunProcess(argv, Environment(), request_.timeout);
        result.output = Cp932ToUtf8(result.output);
        return result;
    }

    int InstalledVersion() const { return request_.hasVersion ? request_.version : facts_.low; }

    fs::path GameFolder() const
    {
        fs::path path;
        Cp932ToHostPath(Prefix() / "drive_c" / "Games", InstallName(facts_), path);
        return path;
    }

    void StopWine()
    {
        if (!run_.server.empty() && fs::exists(Prefix()))
            RunProcess({run_.server, "-k"}, Environment(), 60, false);
    }

private:
    static std::string FirstLine(const std::string& text)
    {
        std::string line = text.substr(0, text.find('\n'));
        return line.empty() ? "no output" : line;
    }

    const TryRequest& request_;
    const UpdateFacts& facts_;
    fs::path temp_;
    WineRun run_;
    std::string display_;
};

// The update's package behind another stub: the same entries, the trailer pointing at them.
bool Rebase(const std::string& update, const fs::path& stub, const UpdateFacts& facts, const fs::path& out,
            std::string& error)
{
    std::ifstream in(fs::u8path(update), std::ios::binary);
    std::ifstream stubIn(stub, std::ios::binary);
    std::ofstream file(out, std::ios::binary);
    if (!in || !stubIn || !file) {
        error = "cannot put the package on " + PathForDisplay(stub);
        return false;
    }
    file << stubIn.rdbuf();
    uint32_t offset = (uint32_t)file.tellp();
    in.seekg(facts.firstEntryOffset);
    std::vector<char> buffer(1 << 20);
    int64_t left = facts.packageSize;
    while (left > 0 && in) {
        std::streamsize piece = (std::streamsize)std::min<int64_t>(left, (int64_t)buffer.size());
        in.read(buffer.data(), piece);
        file.write(buffer.data(), in.gcount());
        left -= in.gcount();
    }
    unsigned char trailer[4] = {(unsigned char)offset, (unsigned char)(offset >> 8), (unsigned char)(offset >> 16),
                                (unsigned char)(offset >> 24)};
    file.write(reinterpret_cast<const char*>(trailer), 4);
    if (left != 0 || !file) {
        error = "cannot write " + PathForDisplay(out);
        return false;
    }
    return true;
}

// The pictures the player saved (BMP), as PNG files in `pictures`, with `prefix` before each name.
std::vector<std::string> KeepPictures(const fs::path& shots, const fs::path& pictures, const std::string& prefix)
{
    std::vector<std::string> names;
    std::error_code code;
    fs::create_directories(pictures, code);
    std::vector<fs::path> found;
    for (fs::directory_iterator it(shots, code), end; !code && it != end; it.increment(code))
        if (it->path().extension() == ".bmp")
            found.push_back(it->path());
    std::sort(found.begin(), found.end());
    for (const fs::path& bmp : found) {
        RgbImage image;
        std::string error;
        std::string name = prefix + bmp.stem().string() + ".png";
        if (ReadImageFile(bmp.u8string(), image, error) && WriteImageFile((pictures / name).u8string(), image, error))
            names.push_back(name);
    }
    return names;
}

std::string Join(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : " ") + name;
    return text;
}

// The player's own lines, indented, for the maker to follow.
void ShowPlayer(const std::string& output)
{
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        std::string line = output.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? output.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("demorun: saved ", 0) == 0 || line.empty())
            continue;
        Say("  player: %s\n", line.rfind("demorun: ", 0) == 0 ? line.substr(9).c_str() : line.c_str());
    }
}

std::string Lines(const std::string& output, const std::string& start)
{
    std::string found;
    for (size_t at = output.find(start); at != std::string::npos; at = output.find(start, at + 1)) {
        size_t end = output.find_first_of("\r\n", at);
        found += (found.empty() ? "" : "; ") + output.substr(at + start.size(), end - at - start.size());
    }
    return found;
}

// Prints the comparison; returns the number of differences.
size_t Report(const GameComparison& c)
{
    size_t differences = c.differs.size() + c.missing.size() + c.extra.size();
    std::string summary = Count(c.same, "file", "files") + " as in NEW_DIR";
    if (!c.differs.empty())
        summary += ", " + Count((long long)c.differs.size(), "file differs", "files differ");
    if (!c.missing.empty())
        summary += ", " + std::to_string(c.missing.size()) + " missing";
    if (!c.extra.empty())
        summary += ", " + std::to_string(c.extra.size()) + " extra";
    summary += "; " + std::to_string(c.removed.size()) + " of OLD_DIR's files NEW_DIR lacks removed, " +
               Count((long long)c.kept.size(), "file", "files") + " kept";
    PrintTo(stdout, "mkupdate try: the game folder against NEW_DIR: %s\n", summary.c_str());
    for (const GameDifference& d : c.missing)
        PrintTo(stdout, "  missing:  %s: %s\n", DisplayName(d.name).c_str(), d.why.c_str());
    for (const GameDifference& d : c.differs)
        PrintTo(stdout, "  differs:  %s: %s\n", DisplayName(d.name).c_str(), d.why.c_str());
    for (const GameDifference& d : c.extra)
        PrintTo(stdout, "  extra:    %s: %s\n", DisplayName(d.name).c_str(), d.why.c_str());
    for (const std::string& name : c.removed)
        Say("  removed:  %s (OLD_DIR had it, NEW_DIR does not)\n", DisplayName(name).c_str());
    for (const std::string& name : c.kept)
        Say("  kept:     %s (OLD_DIR had it, NEW_DIR does not, the update left it: a player's file, or one the update "
            "should remove)\n",
            DisplayName(name).c_str());
    for (const std::string& name : c.setupLeft)
        PrintTo(stdout, "  warning:  %s: the update's own file stays in players' game folders; list it under "
                        "[delfiles_afterinst]\n",
                DisplayName(name).c_str());
    return differences;
}

#endif

int ReadOptions(const Args& args, TryRequest& request)
{
    auto value = [](std::string& target, const char* what) {
        return [&target, what](const std::string& v) { target = v; return v.empty() ? std::string(what) + " needs a value" : ""; };
    };
    std::vector<std::string> operands;
    int stop = ReadCommandLine(
        "try", kTryHelp, args,
        {{{"--game"}, true, value(request.game, "--game")},
         {{"--expect"}, true, value(request.expect, "--expect")},
         {{"--pictures"}, true, value(request.pictures, "--pictures")},
         {{"--player"}, true, value(request.player, "--player")},
         {{"--player64"}, true, value(request.player64, "--player64")},
         {{"--stub64"}, true, value(request.stub64, "--stub64")},
         {{"--windows"}, true,
          [&](const std::string& v) {
              request.windows = v;
              return v == "auto" || v == "win32" || v == "win64" ? "" : "--windows takes auto, win32 or win64";
          }},
         {{"--version"}, true,
          [&](const std::string& v) {
              char* end = nullptr;
              long number = std::strtol(v.c_str(), &end, 10);
              request.hasVersion = true;
              request.version = (int)number;
              return !v.empty() && *end == '\0' ? "" : "--version takes a whole number";
          }},
         {{"--timeout"}, true,
          [&](const std::string& v) {
              request.timeout = std::atoi(v.c_str());
              return request.timeout > 0 ? "" : "--timeout takes a number of seconds";
          }},
         {{"--keep"}, false,
          [&](const std::string&) {
              request.keep = true;
              return std::string();
          }}},
        operands);
    if (stop >= 0)
        return stop;
    if (operands.size() != 1)
        return UsageError("try", operands.empty() ? "which update? UPDATE.exe is missing" : "one update at a time");
    if (request.game.empty())
        return UsageError("try", "--game OLD_DIR is missing: the game as players have it before the update");
    request.update = operands[0];
    if (request.windows.empty()) {
        const char* forced = std::getenv("MKUPDATE_TRY_WINDOWS");
        request.windows = forced != nullptr && *forced != '\0' ? forced : "auto";
        if (request.windows != "auto" && request.windows != "win32" && request.windows != "win64")
            return UsageError("try", "MKUPDATE_TRY_WINDOWS takes auto, win32 or win64");
    }
    fs::path beside = ProgramFolder() / "try";
    if (request.player.empty())
        request.player = (beside / "player.exe").u8string();
    if (request.player64.empty())
        request.player64 = (beside / "player64.exe").u8string();
    if (request.stub64.empty())
        request.stub64 = (beside / "updater64.exe").u8string();
    return -1;
}

#ifndef _WIN32
fs::path MakeTempFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/mkupdate-try-XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    char* made = mkdtemp(text.data());
    return made != nullptr ? fs::path(made) : fs::path();
}
#endif

}  // namespace

int RunTry(const Args& args)
{
    TryRequest request;
    int stop = ReadOptions(args, request);
    if (stop >= 0)
        return stop;
#ifdef _WIN32
    return InputError("try", "try runs the update on Linux, under Wine in a prefix of its own. On Windows a test install would "
                "write this machine's own registry (the game's keys under HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER) "
                "and leave a game folder behind, so try stops here. Test on a Windows machine of its own, or a "
                "virtual machine, as the guide's section 6 tells");
#else
    std::error_code code;
    fs::path old = fs::u8path(request.game), expect = fs::u8path(request.expect);
    if (!fs::is_directory(old, code))
        return Fail(PathForDisplay(old) + ": OLD_DIR is not a folder");
    if (!request.expect.empty() && !fs::is_directory(expect, code))
        return Fail(PathForDisplay(expect) + ": NEW_DIR is not a folder");
    UpdateFacts facts;
    std::string error;
    if (!ReadUpdate(request.update, facts, error))
        return Fail(error);
    if (!facts.keyFile.empty()) {
        fs::path key;
        if (!Cp932ToHostPath(old, facts.keyFile, key) || !fs::exists(key, code))
            PrintTo(stderr, "mkupdate try: warning: the key file %s (KEYFILE) is not in OLD_DIR: the updater will refuse "
                            "the installed game\n", DisplayName(facts.keyFile).c_str());
    }

    WineRun run32, run64;
    bool have32 = FindWine(false, run32), have64 = FindWine(true, run64);
    if (!have32 && !have64)
        return Fail(kNeedsWine);
    if (!JapaneseLocaleInstalled())
        return Fail(kNeedsJapanese);
    run32.player = fs::u8path(request.player);
    run64.player = fs::u8path(request.player64);

    PrivateDisplay xvfb;
    std::string display;
    std::string xvfbProgram = FindProgram("Xvfb");
    if (!xvfbProgram.empty()) {
        if (!xvfb.Start(xvfbProgram, error))
            return Fail(error);
        display = xvfb.Name();
    } else if (const char* shown = std::getenv("DISPLAY"); shown != nullptr && *shown != '\0') {
        display = shown;
        Note("no Xvfb: the update's windows open on your display " + display + " (do not click them)");
    } else {
        return Fail(kNeedsDisplay);
    }

    fs::path temp = MakeTempFolder();
    if (temp.empty())
        return Fail("cannot make a temporary folder");
    // Ctrl+C ends the program running, then the prefix, the folder and the display go as usual.
    CatchInterrupts();
    fs::path pictures = request.pictures.empty() ? temp / "pictures" : fs::u8path(request.pictures);
    int status = [&]() -> int {
        TryRun tryRun(request, facts, temp);
        tryRun.SetDisplay(display);
        Note(request.update + " on " + PathForDisplay(old) + ", in a new Wine prefix in " + PathForDisplay(temp));

        // 32-bit where it runs; else the same package on the 64-bit updater.
        fs::path update = fs::u8path(request.update);
        bool ready = false;
        std::string why32;
        if (request.windows != "win64") {
            if (!have32)
                why32 = "no 32-bit Wine loader is installed";
            else if (!fs::exists(run32.player, code))
                why32 = PathForDisplay(run32.player) + " is missing (the release carries it beside mkupdate)";
            else
                ready = tryRun.Prepare(run32, why32);
            if (Interrupted())
                return Fail("interrupted; the temporary folder and the prefix are removed");
            if (ready)
                Note("Windows run: 32-bit Wine, the update as built");
            else if (request.windows == "win32")
                return Fail("the 32-bit run is not possible here: " + why32);
        }
        if (!ready) {
            if (request.windows == "win64")
                Note("the 64-bit run, as asked (--windows win64 or MKUPDATE_TRY_WINDOWS=win64)");
            else
                Note("32-bit Windows programs do not run here (" + why32 + ")");
            fs::path stub64 = fs::u8path(request.stub64);
            if (!have64)
                return Fail(std::string("no 64-bit Wine loader either. ") + kNeedsWine);
            if (!fs::exists(stub64, code) || !fs::exists(run64.player, code))
                return Fail("the 64-bit run needs " + PathForDisplay(stub64) + " and " + PathForDisplay(run64.player) +
                            " (the release carries them beside mkupdate, in try/)");
            fs::path rebased = temp / "update64.exe";
            if (!Rebase(request.update, stub64, facts, rebased, error))
                return Fail(error);
            std::string why64;
            bool ready64 = tryRun.Prepare(run64, why64);
            if (Interrupted())
                return Fail("interrupted; the temporary folder and the prefix are removed");
            if (!ready64)
                return Fail("the 64-bit run is not possible either: " + why64);
            update = rebased;
            Note("Windows run: 64-bit Wine, the same package on the 64-bit build of the updater (" +
                 PathForDisplay(stub64) + "); players get the 32-bit updater.exe, which this run does not start");
        }

        // The game as players have it.
        fs::path game = tryRun.GameFolder();
        fs::create_directories(game.parent_path(), code);
        fs::copy(old, game, fs::copy_options::recursive, code);
        if (code)
            return Fail("cannot copy OLD_DIR into the prefix: " + code.message());
        std::string installed = "installed OLD_DIR as C:\\Games\\" + DisplayName(InstallName(facts)) + ", key Software\\" +
                                DisplayName(facts.regGlobal) + "\\" + DisplayName(facts.regLocal);
        if (!facts.chkReg.empty())
            installed += ", " + DisplayName(facts.chkReg) + " " + std::to_string(tryRun.InstalledVersion()) +
                         (request.hasVersion ? " (--version)" : " (CHKREGVER; the range is " + std::to_string(facts.low) +
                                                                    " to " + std::to_string(facts.high) + ")");
        Note(installed);

        ProcessResult played = tryRun.Play(update, temp / "shots", true);
        ShowPlayer(played.output);
        if (Interrupted())
            return Fail("interrupted; the temporary folder and the prefix are removed");
        bool ranThrough = played.started && !played.timedOut && played.exitCode == 0;
        std::vector<std::string> failures;
        if (played.timedOut)
            failures.push_back("the update did not end within " + std::to_string(request.timeout) + " seconds");
        else if (!ranThrough)
            failures.push_back("the update did not run to its end dialog" +
                               (Lines(played.output, "demorun: notice: ").empty()
                                    ? std::string()
                                    : ": the updater said " + Lines(played.output, "demorun: notice: ")));
        else
            Note("the update ran to its end dialog");
        if (!facts.chkReg.empty()) {
            std::string after = Lines(played.output, "demorun: value " + Cp932ToUtf8(facts.chkReg) + "=");
            Note(DisplayName(facts.chkReg) + " after the update: " + (after.empty() ? "(not read)" : after));
        }
        tryRun.StopWine();

        // The folder as the first run left it, before anything else runs in the prefix.
        size_t differences = 0;
        if (!request.expect.empty()) {
            GameComparison comparison;
            if (!CompareGameFolder(game, old, expect, comparison, error))
                return Fail(error);
            differences = Report(comparison);
            if (differences > 0)
                failures.push_back(Count((long long)differences, "difference", "differences") + " from NEW_DIR");
        } else {
            GameChanges changes;
            if (!CompareWithOld(game, old, changes, error))
                return Fail(error);
            PrintTo(stdout, "mkupdate try: the game folder against OLD_DIR: %zu added, %zu replaced, %zu removed, %d "
                            "unchanged (give --expect NEW_DIR to compare with the new version)\n",
                    changes.added.size(), changes.replaced.size(), changes.removed.size(), changes.unchanged);
            for (const std::string& name : changes.added)
                Say("  added:    %s\n", DisplayName(name).c_str());
            for (const std::string& name : changes.replaced)
                Say("  replaced: %s\n", DisplayName(name).c_str());
            for (const std::string& name : changes.removed)
                Say("  removed:  %s\n", DisplayName(name).c_str());
        }

        std::vector<std::string> pictureNames = KeepPictures(temp / "shots", pictures, "");
        // Once applied, the same update must say so: the [reg] line moved the version past the range.
        if (ranThrough && !facts.chkReg.empty()) {
            ProcessResult again = tryRun.Play(update, temp / "shots-again", false);
            tryRun.StopWine();
            std::string notices = Lines(again.output, "demorun: notice: ");
            std::vector<std::string> more = KeepPictures(temp / "shots-again", pictures, "again-");
            pictureNames.insert(pictureNames.end(), more.begin(), more.end());
            if (again.exitCode == 3 && notices.find("既にアップデート適応済みです") != std::string::npos) {
                Note("run again: the updater says " + notices + ", as it should");
            } else {
                ShowPlayer(again.output);
                failures.push_back("run again, the update " +
                                   (again.exitCode == 0 ? std::string("ran a second time: the version it writes is "
                                                                      "still inside its own range")
                                                        : "did not say it is applied already" +
                                                              (notices.empty() ? std::string() : " (it said " + notices + ")")));
            }
        }
        Note("pictures of each window in " + PathForDisplay(pictures) + ": " +
             (pictureNames.empty() ? std::string("(none)") : Join(pictureNames)));

        if (failures.empty()) {
            PrintTo(stdout, "mkupdate try: passed\n");
            return kExitOk;
        }
        std::string all;
        for (const std::string& failure : failures)
            all += (all.empty() ? "" : "; ") + failure;
        PrintTo(stdout, "mkupdate try: FAILED: %s\n", all.c_str());
        return kExitInput;
    }();
    if (request.keep) {
        Note("kept the temporary folder " + PathForDisplay(temp) + " (the prefix is prefix/, the game " +
             "prefix/drive_c/Games/)");
    } else {
        // Everything but the pictures goes.
        for (fs::directory_iterator it(temp, code), end; !code && it != end; it.increment(code)) {
            std::error_code ignored;
            if (it->path() != pictures)
                fs::remove_all(it->path(), ignored);
        }
        // A run that saved no picture (it stopped early) leaves nothing.
        bool noPictures = fs::is_empty(pictures, code) || code;
        if (!request.pictures.empty() || noPictures)
            fs::remove_all(temp, code);
    }
    return status;
#endif
}
