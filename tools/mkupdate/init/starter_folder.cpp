// The starter folder of mkupdate init: a commented install.env, a title picture and a readme.
#include "init/starter_folder.h"

#include <algorithm>
#include <cctype>

#include "host/host_files.h"
#include "image/rct_decoder.h"
#include "host/rct_convert.h"

namespace fs = std::filesystem;

namespace {

// What a text accessor of the updater keeps of a value.
const size_t kSettingLimit = 127;
// Key-file candidates beyond the first are offered as commented-out lines, this many at most.
const size_t kMoreKeyFiles = 4;

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

bool StartsWith(const std::string& text, const char* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// Programs that many products carry under the same name (uninstallers, installers, runtimes,
// patchers): their presence says nothing about which product a folder holds.
bool IsSharedProgramName(const std::string& lowerStem)
{
    for (const char* prefix : {"unins", "uninst", "setup", "install", "vcredist", "vc_redist", "dxsetup",
                               "dxwebsetup", "directx", "dotnet"})
        if (StartsWith(lowerStem, prefix))
            return true;
    for (const char* part : {"update", "patch"})
        if (lowerStem.find(part) != std::string::npos)
            return true;
    return false;
}

bool IsProgramFilesName(const std::string& name)
{
    return StartsWith(Lower(name), "program files");
}

struct Candidate {
    std::string value;
    bool namedLikeFolder;
    uintmax_t size;
};

void FindKeyFiles(const fs::path& game, const std::string& folderName, GameFacts& facts)
{
    std::vector<Candidate> found;
    std::error_code code;
    for (fs::directory_iterator it(game, code), end; !code && it != end; it.increment(code)) {
        std::error_code status;
        if (!it->is_regular_file(status) || Lower(it->path().extension().u8string()) != ".exe")
            continue;
        const std::string name = it->path().filename().u8string();
        const std::string stem = Lower(it->path().stem().u8string());
        std::string cp932, why, value;
        if (IsSharedProgramName(stem))
            continue;
        if (!NameToCp932(it->path().filename(), cp932, why) || !ToSettingsValue(name, value)) {
            facts.notes.push_back(PathForDisplay(it->path().filename()) +
                                  ": not offered as the key file (the updater cannot name it in a setting)");
            continue;
        }
        found.push_back({value, stem == Lower(folderName), it->file_size(status)});
    }
    // The program named like its folder is the product's own; else the largest program is.
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        if (a.namedLikeFolder != b.namedLikeFolder)
            return a.namedLikeFolder;
        if (a.size != b.size)
            return a.size > b.size;
        return a.value < b.value;
    });
    for (size_t i = 0; i < found.size() && i <= kMoreKeyFiles; ++i)
        facts.keyFiles.push_back(found[i].value);
    if (found.empty())
        facts.notes.push_back("no program (.exe) at the top of the game's folder that only this product would carry; "
                              "set KEYFILE by hand");
}

void AddLine(std::string& text, const std::string& line)
{
    text += line;
    text += '\n';
}

// A key line, with its one-line comment above it; commented out when the setting stays unused.
void AddKey(std::string& text, const char* comment, const char* key, const std::string& value, bool active = true)
{
    AddLine(text, std::string(u8"// ") + comment);
    AddLine(text, std::string(active ? "" : "//") + key + "\t" + value);
}

// A section after a blank line, with its comment, its lines and the line that closes it.
void AddSection(std::string& text, const char* comment, const std::string& name, const std::vector<std::string>& lines)
{
    AddLine(text, "");
    if (comment != nullptr)
        AddLine(text, std::string(u8"// ") + comment);
    AddLine(text, "[" + name + "]");
    for (const std::string& line : lines)
        AddLine(text, line);
    AddLine(text, "-\t// " + name + u8" ここまで");
}

}  // namespace

bool ToSettingsValue(const std::string& utf8, std::string& value)
{
    if (utf8.empty() || utf8[0] == '-')
        return false;
    value.clear();
    for (char c : utf8) {
        if (c == '|' || ((unsigned char)c < 32) || c == 0x7F)
            return false;
        value += c == ' ' ? '|' : c;
    }
    std::string cp932;
    return TextToCp932(value, cp932) && cp932.size() <= kSettingLimit;
}

bool ReadGameFolder(const fs::path& game, GameFacts& facts, std::string& error)
{
    std::error_code code;
    fs::path folder = fs::canonical(game, code);
    if (code || !fs::is_directory(folder, code)) {
        error = PathForDisplay(game) + ": is not a folder (give the folder the game is installed in)";
        return false;
    }
    const std::string name = folder.filename().u8string();
    std::string value;
    if (ToSettingsValue(name, value)) {
        facts.title = value;
        facts.productFolder = value;
    } else {
        facts.notes.push_back("the folder's name cannot be a setting's value; TITLEBAR and INSTTO keep their "
                              "placeholders");
    }
    // The manual choice proposes Program Files\INSTFOL\INSTTO: a maker's folder is known only when
    // the game lies two levels below a Program Files folder.
    fs::path parent = folder.parent_path();
    if (parent != folder && parent.has_filename() && IsProgramFilesName(parent.parent_path().filename().u8string()) &&
        !IsProgramFilesName(parent.filename().u8string())) {
        if (ToSettingsValue(parent.filename().u8string(), value))
            facts.makerFolder = value;
    }
    FindKeyFiles(folder, name, facts);
    return true;
}

std::string StarterSettingsFile(const GameFacts& facts)
{
    const bool fromGame = !facts.productFolder.empty() || !facts.keyFiles.empty();
    std::string t;
    AddLine(t, u8"// アップデータ設定ファイル install.env (mkupdate init で作成)");
    AddLine(t, u8"// 文字コード Shift-JIS (CP932)、改行 CR LF のまま保存してください。");
    AddLine(t, u8"// キー行: 行頭にキー、タブ、値。値の中の空白は「|」で書きます。");
    AddLine(t, u8"// 値が「-」で始まる設定は使われません。行頭が「/」・空白・タブの行は読み飛ばされます。");
    AddLine(t, u8"// 確認: mkupdate lint --explain このフォルダ   作成: mkupdate build このフォルダ -o update.exe");
    if (fromGame)
        AddLine(t, u8"// インストール済みのゲームのフォルダから読んだ値が入っています。確かめてください。");
    AddLine(t, "");
    AddLine(t, u8"// ---- 製品 ----");
    AddKey(t, u8"製品名。ウィンドウのタイトルは「製品名 アップデータ」になります",
           "TITLEBAR", facts.title.empty() ? u8"ゲームタイトル" : facts.title);
    AddKey(t, u8"製品のレジストリキー Software\\REG_GLOBAL\\REG_LOCAL の1つ目 (インストーラーと同じに。- は [reg] を書かない)",
           "REG_GLOBAL", "-");
    AddKey(t, u8"同じキーの2つ目。HKLM の IsInst と InstTo からインストール先を探します",
           "REG_LOCAL", "-");
    AddLine(t, "");
    AddLine(t, u8"// ---- インストール先の確認 ----");
    if (facts.keyFiles.empty()) {
        AddKey(t, u8"インストール先にあるはずのファイル。設定するとほかのフォルダには適用しません (おすすめ)",
               "KEYFILE", "game.exe", false);
    } else {
        AddKey(t, u8"インストール先にあるはずのファイル。ないフォルダには適用しません", "KEYFILE",
               facts.keyFiles[0]);
        for (size_t i = 1; i < facts.keyFiles.size(); ++i)
            AddKey(t, u8"ほかの候補", "KEYFILE", facts.keyFiles[i], false);
    }
    AddKey(t, u8"インストール済みのバージョンを持つ HKCU の値の名前。設定しなければバージョンを確かめません",
           "CHKREG", "Version", false);
    AddKey(t, u8"このアップデートを受けられる最も古いバージョン (この値を含む)", "CHKREGVER", "100", false);
    AddKey(t, u8"受けられる最も新しいバージョン。CHKREG を使うときは必ず設定 (この値を含む)", "CHKREGVERHIGH", "109",
           false);
    AddLine(t, "");
    AddLine(t, u8"// ---- 見つからないときに手動で選ぶフォルダの提案: Program Files\\INSTFOL\\INSTTO ----");
    AddKey(t, u8"製品のフォルダ名", "INSTTO", facts.productFolder.empty() ? "GameTitle" : facts.productFolder);
    AddKey(t, u8"Program Files と INSTTO の間のフォルダ (メーカー名など)", "INSTFOL",
           facts.makerFolder.empty() ? "MakerName" : facts.makerFolder, !facts.makerFolder.empty());
    AddKey(t, u8"1 にすると、選ばれたフォルダに INSTTO を含まないとき INSTFOL\\INSTTO を付け足します", "INSTMAKEFOL",
           "0");
    AddLine(t, "");
    AddLine(t, u8"// ---- INI ファイル ([ini] の書き先) ----");
    AddKey(t, u8"[ini] の項目を書くファイル。名前だけなら Windows フォルダ、- は書かない", "INI_FILE", "-");
    AddKey(t, u8"そのファイルのセクション名", "INI_SECTION", "-");
    AddLine(t, "");
    AddLine(t, u8"// ---- お読みください ----");
    AddKey(t, u8"お読みくださいボタンの文字。- にするとボタンを出しません", "INSTREADME", u8"お読みください");
    AddKey(t, u8"開く文書 (このフォルダの一番上に置く .txt)", "INSTREADMEFL",
           facts.readmeFile.empty() ? "readme.txt" : facts.readmeFile);
    AddLine(t, "");
    AddLine(t, u8"// 以下のセクションは見出しで始まり、「-」で始まる行で閉じます。行頭 // はコメントです。");
    AddLine(t, u8"// REP_INSTALL はインストール先、REP_CDROMDRIVE ([reg] では REP_CDROM) は CD-ROM ドライブになります。");
    AddSection(t, u8"アンインストール用 (アップデータは読むだけで何もしません)", "delfiles",
               {"//" + (facts.keyFiles.empty() ? std::string("game.exe") : facts.keyFiles[0])});
    AddSection(t, nullptr, "delfiles_user", {"//save\\*.sav"});
    AddSection(t, u8"INI_FILE の INI_SECTION に書く項目: キー=値", "ini", {"//Path=REP_INSTALL", "//Version=110"});
    AddSection(t, u8"HKCU\\Software\\REG_GLOBAL\\REG_LOCAL に書く値。レジストリエディタの書き出し形式、文字列値のみ", "reg",
               {"//\"InstallDir\"=\"REP_INSTALL\"", "//\"Version\"=\"110\""});
    AddSection(t, u8"アップデート後にインストール先から消すファイル (設定ファイルとタイトル画像もコピーされるため)",
               "delfiles_afterinst", {"install.env", "insttscr.rct"});
    AddLine(t, "[EOF]");
    return ToCp932Lines(t);
}

const char kUpdateReadmeName[] = "update.txt";

const char kStarterReadmePlaceholder[] = u8"\u30FB(\u5909\u66F4\u70B9\u3092\u66F8\u3044\u3066\u304F\u3060\u3055\u3044)";

std::string StarterReadme(const GameFacts& facts)
{
    std::string title = facts.title.empty() ? u8"ゲームタイトル" : facts.title;
    std::replace(title.begin(), title.end(), '|', ' ');
    std::string t;
    AddLine(t, title + u8" アップデート");
    AddLine(t, "==============================");
    AddLine(t, "");
    AddLine(t, u8"このアップデートでは次の点を変更しました。");
    AddLine(t, "");
    AddLine(t, kStarterReadmePlaceholder);
    AddLine(t, "");
    AddLine(t, u8"アップデートの方法");
    AddLine(t, "");
    AddLine(t, u8"1. " + title + u8" をインストールしたパソコンでこのアップデータを実行します。");
    AddLine(t, u8"2. 「アップデート」を押します。インストール先が見つからないときは、");
    AddLine(t, u8"   インストールしたフォルダを選んでください。");
    AddLine(t, u8"3. 終わったら、いつものようにゲームを起動してください。");
    return ToCp932Lines(t);
}

RgbImage StarterPicture()
{
    // A calm vertical gradient in a light frame, so the maker sees the size and placement of the
    // picture that replaces it.
    const uint32_t side = kStarterPictureSide, frame = 8;
    RgbImage image;
    image.width = side;
    image.height = side;
    image.bgr.resize(3 * (size_t)side * side);
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < side; ++x) {
            unsigned char* p = &image.bgr[3 * ((size_t)y * side + x)];
            bool border = x < frame || y < frame || x >= side - frame || y >= side - frame;
            if (border) {
                p[0] = 0xE8, p[1] = 0xE0, p[2] = 0xD8;
            } else {
                p[0] = (unsigned char)(0x5C + 0x74 * y / side);  // blue
                p[1] = (unsigned char)(0x2A + 0x65 * y / side);  // green
                p[2] = (unsigned char)(0x1B + 0x4F * y / side);  // red
            }
        }
    }
    return image;
}

bool StarterPictureFile(std::string& rct, std::string& error)
{
    return EncodeRct(StarterPicture(), RCT_TC00, "", rct, error);
}

std::string ToCp932Lines(const std::string& utf8)
{
    std::string crlf;
    for (char c : utf8) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    std::string cp932;
    TextToCp932(crlf, cp932);
    return cp932;
}
