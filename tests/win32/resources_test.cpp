// The resources as the program carries them: each dialog template read back from the linked
// resource object and parsed byte by byte, the copy clip parsed and decoded as a RIFF AVI and
// played in a real animation control, the icon group and the manifest.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "driver.h"
#include "screen.h"

namespace {

const WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);
const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The resource of exactly this type, name and language in this program's module.
Bytes LoadExact(const char* type, const char* name, WORD language)
{
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, type, name, language);
    if (found == nullptr)
        return {};
    HGLOBAL loaded = LoadResource(module, found);
    return {static_cast<const uint8_t*>(LockResource(loaded)), SizeofResource(module, found)};
}

// Reads little-endian values and checks every read against what is left.
class Cursor {
public:
    Cursor(Bytes bytes, size_t offset = 0) : bytes_(bytes), offset_(offset) {}

    size_t Offset() const { return offset_; }
    size_t Left() const { return offset_ <= bytes_.size ? bytes_.size - offset_ : 0; }
    void Seek(size_t offset) { offset_ = offset; }
    void Skip(size_t count) { Need(count), offset_ += count; }
    void AlignTo(size_t unit) { offset_ = (offset_ + unit - 1) / unit * unit; }

    uint8_t U8() { Need(1); return bytes_.data[offset_++]; }
    uint16_t U16() { Need(2); uint16_t v = Get(0) | Get(1) << 8; offset_ += 2; return v; }
    uint32_t U32()
    {
        Need(4);
        uint32_t v = Get(0) | Get(1) << 8 | Get(2) << 16 | static_cast<uint32_t>(Get(3)) << 24;
        offset_ += 4;
        return v;
    }
    int16_t S16() { return static_cast<int16_t>(U16()); }
    std::string FourCc()
    {
        Need(4);
        std::string text(reinterpret_cast<const char*>(bytes_.data + offset_), 4);
        offset_ += 4;
        return text;
    }
    std::wstring WideString()
    {
        std::wstring text;
        for (uint16_t c = U16(); c != 0; c = U16())
            text += static_cast<wchar_t>(c);
        return text;
    }
    // A name field of a dialog template: nothing, an ordinal, or a string.
    std::wstring NameOrOrdinal(bool isClass)
    {
        uint16_t first = U16();
        if (first == 0)
            return L"";
        if (first == 0xFFFF) {
            uint16_t ordinal = U16();
            static const wchar_t* const kClasses[] = {L"BUTTON", L"EDIT", L"STATIC", L"LISTBOX", L"SCROLLBAR", L"COMBOBOX"};
            if (isClass && ordinal >= 0x80 && ordinal <= 0x85)
                return kClasses[ordinal - 0x80];
            return L"#" + std::to_wstring(ordinal);
        }
        offset_ -= 2;
        return WideString();
    }

private:
    void Need(size_t count)
    {
        if (count > Left())
            throw driver::DriverError("resource ends at " + std::to_string(offset_) + " before " + std::to_string(count) +
                                      " more bytes");
    }
    uint32_t Get(size_t at) const { return bytes_.data[offset_ + at]; }

    Bytes bytes_;
    size_t offset_;
};

// What the player sees: the wide text in code page 932, and whether every character has a
// code page 932 form.
std::string ToCp932(const std::wstring& text, bool* exact)
{
    char buffer[1024] = "";
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text.c_str(), static_cast<int>(text.size()), buffer,
                                     sizeof buffer, nullptr, &usedDefault);
    *exact = usedDefault == FALSE && (text.empty() || length > 0);
    return std::string(buffer, length > 0 ? length : 0);
}

// ---------------------------------------------------------------------------------------------
// Dialog templates

struct ParsedControl {
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;
    int id;
    std::wstring className;
    std::wstring text;
    size_t extraBytes;
};

struct ParsedDialog {
    DWORD style;
    DWORD exStyle;
    int x, y, cx, cy;
    std::wstring menu;
    std::wstring className;
    std::wstring caption;
    int pointSize;
    std::wstring font;
    std::vector<ParsedControl> controls;
};

ParsedDialog ParseClassicTemplate(Bytes bytes)
{
    Cursor in(bytes);
    ParsedDialog dialog{};
    dialog.style = in.U32();
    dialog.exStyle = in.U32();
    if (dialog.style == 0xFFFF0001)
        throw driver::DriverError("an extended template (DLGTEMPLATEEX), not a classic one");
    int count = in.U16();
    dialog.x = in.S16();
    dialog.y = in.S16();
    dialog.cx = in.S16();
    dialog.cy = in.S16();
    dialog.menu = in.NameOrOrdinal(false);
    dialog.className = in.NameOrOrdinal(false);
    dialog.caption = in.WideString();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.U16();
        dialog.font = in.WideString();
    }
    for (int i = 0; i < count; ++i) {
        in.AlignTo(4);
        ParsedControl control{};
        control.style = in.U32();
        control.exStyle = in.U32();
        control.x = in.S16();
        control.y = in.S16();
        control.cx = in.S16();
        control.cy = in.S16();
        control.id = static_cast<int16_t>(in.U16());  // classic templates hold the id in 16 bits
        control.className = in.NameOrOrdinal(true);
        control.text = in.NameOrOrdinal(false);
        control.extraBytes = in.U16();
        in.Skip(control.extraBytes);
        dialog.controls.push_back(control);
    }
    return dialog;
}

// What each dialog must offer: the caption and the control texts the player reads, whether the
// player may close it, and the controls the code drives by identifier. Positions and sizes are
// the resource script's business; only what the product needs from them is checked below.
struct NeededControl {
    int id;
    const wchar_t* className;
    const char* text;  // code page 932, as this program's narrow literals are; nullptr: not shown
};

struct NeededDialog {
    const char* name;
    const char* caption;
    bool closeBox;
    std::vector<NeededControl> controls;
};

const std::vector<NeededDialog>& NeededDialogs()
{
    static const std::vector<NeededDialog> dialogs = {
        // The main window gives the nine action buttons their captions itself.
        {"MAINDIALOG", "ZOREDU アプリケーション スタートアップ", true,
         {{1000, L"BUTTON", nullptr}, {1001, L"BUTTON", nullptr}, {1002, L"BUTTON", nullptr},
          {1003, L"BUTTON", nullptr}, {1004, L"BUTTON", nullptr}, {1005, L"BUTTON", nullptr},
          {1006, L"BUTTON", nullptr}, {1007, L"BUTTON", nullptr}, {1008, L"BUTTON", nullptr}}},
        {"SETUP", "アップデート先のフォルダの指定", true,
         {{IDOK, L"BUTTON", "次へ"}, {IDCANCEL, L"BUTTON", "ｷｬﾝｾﾙ"}, {1000, L"EDIT", ""}, {1021, L"BUTTON", "参照(&B)"}}},
        // Only the extraction closes the progress window.
        {"COPYINGDELUX", "ファイルのコピー中...", false,
         {{1010, L"msctls_progress32", nullptr}, {1019, L"msctls_progress32", nullptr}, {1012, L"STATIC", nullptr},
          {1020, L"SysAnimate32", nullptr}, {IDCANCEL, L"BUTTON", "ｷｬﾝｾﾙ"}}},
        {"ENDINSTALL", "インストール終了", true, {{IDOK, L"BUTTON", "OK"}, {1007, L"BUTTON", nullptr}}},
        {"ENDINSTALL_SHORT", "インストール終了", true, {{IDOK, L"BUTTON", "OK"}}},
    };
    return dialogs;
}

std::wstring Upper(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towupper(c));
    return text;
}

ParsedDialog LoadDialog(const char* name)
{
    Bytes bytes = LoadExact(RT_DIALOG, name, kJapanese);
    if (bytes.data == nullptr)
        throw driver::DriverError(std::string("no Japanese dialog resource ") + name);
    return ParseClassicTemplate(bytes);
}

const ParsedControl* FindControl(const ParsedDialog& dialog, int id)
{
    for (const ParsedControl& control : dialog.controls)
        if (control.id == id)
            return &control;
    return nullptr;
}

bool Inside(const ParsedControl& inner, const ParsedControl& outer)
{
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.cx <= outer.x + outer.cx &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

std::string Cp932Text(const std::wstring& text)
{
    bool exact = false;
    std::string narrow = ToCp932(text, &exact);
    EXPECT_TRUE(exact) << "a character without a code page 932 form";
    return narrow;
}

TEST(DialogTemplates, OfferTheControlsAndTextsTheProductNeeds)
{
    for (const NeededDialog& needed : NeededDialogs()) {
        SCOPED_TRACE(needed.name);
        ParsedDialog dialog = LoadDialog(needed.name);
        EXPECT_EQ(Cp932Text(dialog.caption), needed.caption);
        EXPECT_EQ((dialog.style & WS_SYSMENU) != 0, needed.closeBox) << "close box";
        // The Japanese texts are drawn in the product's font.
        EXPECT_NE(dialog.style & DS_SETFONT, 0u);
        EXPECT_EQ(dialog.pointSize, 9);
        EXPECT_EQ(Cp932Text(dialog.font), "ＭＳ Ｐゴシック");
        for (const NeededControl& want : needed.controls) {
            SCOPED_TRACE("control " + std::to_string(want.id));
            const ParsedControl* got = FindControl(dialog, want.id);
            ASSERT_NE(got, nullptr);
            // windres writes class names in capitals; window classes match without regard to case.
            EXPECT_EQ(Upper(got->className), Upper(want.className));
            if (want.text != nullptr) {
                EXPECT_EQ(Cp932Text(got->text), want.text);
            }
        }
        // Every control can be seen and reached: visible and within the dialog.
        for (const ParsedControl& control : dialog.controls) {
            SCOPED_TRACE("control " + std::to_string(control.id));
            EXPECT_NE(control.style & WS_VISIBLE, 0u);
            EXPECT_GE(control.x, 0);
            EXPECT_GE(control.y, 0);
            EXPECT_LE(control.x + control.cx, dialog.cx);
            EXPECT_LE(control.y + control.cy, dialog.cy);
        }
    }
}

TEST(DialogTemplates, MainWindowButtonsFormAColumnRightOfTheTitleImage)
{
    ParsedDialog dialog = LoadDialog("MAINDIALOG");
    EXPECT_EQ(dialog.controls.size(), 9u) << "nothing but the nine action buttons";
    // The used buttons form a column from the bottom up, 1000 lowest: each slot sits right above
    // the one before it, with the same place and size across.
    for (int id = 1000; id <= 1008; ++id) {
        const ParsedControl* button = FindControl(dialog, id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_EQ(button->style & (BS_TYPEMASK | WS_TABSTOP), static_cast<DWORD>(BS_PUSHBUTTON | WS_TABSTOP)) << id;
        if (id > 1000 && id <= 1007) {
            const ParsedControl* below = FindControl(dialog, id - 1);
            ASSERT_NE(below, nullptr);
            EXPECT_EQ(button->x, below->x) << id;
            EXPECT_EQ(button->cx, below->cx) << id;
            EXPECT_LE(button->y + button->cy, below->y) << id << " stands above " << id - 1;
        }
    }
    // Slot 8 is the small button in the top right corner, above the column.
    const ParsedControl* corner = FindControl(dialog, 1008);
    const ParsedControl* top = FindControl(dialog, 1007);
    ASSERT_TRUE(corner != nullptr && top != nullptr);
    EXPECT_LE(corner->y + corner->cy, top->y);
    EXPECT_GT(corner->x + corner->cx / 2, dialog.cx / 2);
    // The area left of x 155 holds no control: the title image is painted there.
    for (const ParsedControl& control : dialog.controls)
        EXPECT_GE(control.x, 155) << control.id;
}

TEST(DialogTemplates, FolderChoiceFramesTheFieldAndItsBrowseButton)
{
    ParsedDialog dialog = LoadDialog("SETUP");
    const ParsedControl* field = FindControl(dialog, 1000);
    const ParsedControl* browse = FindControl(dialog, 1021);
    ASSERT_TRUE(field != nullptr && browse != nullptr);
    // A long folder path scrolls in the field instead of being refused as the player types.
    EXPECT_NE(field->style & ES_AUTOHSCROLL, 0u);
    EXPECT_NE(field->style & WS_TABSTOP, 0u);
    const ParsedControl* frame = nullptr;
    for (const ParsedControl& control : dialog.controls)
        if ((control.style & BS_TYPEMASK) == BS_GROUPBOX && Upper(control.className) == L"BUTTON")
            frame = &control;
    ASSERT_NE(frame, nullptr) << "a group box";
    EXPECT_TRUE(Inside(*field, *frame));
    EXPECT_TRUE(Inside(*browse, *frame));
    // The player is told what to do: the request above the frame and how the buttons work.
    std::vector<std::string> statics;
    for (const ParsedControl& control : dialog.controls)
        if (Upper(control.className) == L"STATIC")
            statics.push_back(Cp932Text(control.text));
    EXPECT_NE(std::find(statics.begin(), statics.end(), "アップデート先フォルダを指定してください"), statics.end());
    EXPECT_NE(std::find(statics.begin(), statics.end(),
                        "[参照]ボタンで、既存のフォルダを参照できます\n[次へ]ボタンでインストールを開始します"),
              statics.end());
}

TEST(DialogTemplates, ProgressWindowShowsBothBarsTheNameAndTheClip)
{
    ParsedDialog dialog = LoadDialog("COPYINGDELUX");
    const ParsedControl* fileBar = FindControl(dialog, 1010);
    const ParsedControl* overallBar = FindControl(dialog, 1019);
    const ParsedControl* name = FindControl(dialog, 1012);
    const ParsedControl* clip = FindControl(dialog, 1020);
    ASSERT_TRUE(fileBar != nullptr && overallBar != nullptr && name != nullptr && clip != nullptr);
    // Whole units fill the bars without the gaps of block style.
    EXPECT_NE(fileBar->style & PBS_SMOOTH, 0u);
    EXPECT_NE(overallBar->style & PBS_SMOOTH, 0u);
    // The destination path is centred in one line; the clip plays with its magenta made transparent.
    EXPECT_NE(name->style & SS_CENTER, 0u);
    EXPECT_NE(clip->style & ACS_TRANSPARENT, 0u);
    // The window appears as soon as it is made, in front.
    EXPECT_NE(dialog.style & WS_VISIBLE, 0u);
    EXPECT_NE(dialog.style & DS_SETFOREGROUND, 0u);
}

TEST(DialogTemplates, EndDialogsOfferTheReadmeOnlyInTheLongForm)
{
    ParsedDialog full = LoadDialog("ENDINSTALL");
    ParsedDialog shortForm = LoadDialog("ENDINSTALL_SHORT");
    for (const ParsedDialog* dialog : {&full, &shortForm}) {
        const ParsedControl* ok = FindControl(*dialog, IDOK);
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->style & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON)) << "Enter presses OK";
    }
    const ParsedControl* readme = FindControl(full, 1007);
    ASSERT_NE(readme, nullptr);
    EXPECT_EQ(readme->style & BS_TYPEMASK, static_cast<DWORD>(BS_AUTOCHECKBOX)) << "checked by a click alone";
    EXPECT_EQ(FindControl(shortForm, 1007), nullptr);
}

TEST(DialogTemplates, LineFeedsAndKatakanaSurviveAsSingleCharacters)
{
    // The two-line statics hold a real line feed (not a backslash and an n), and the half-width
    // katakana stay half-width: 5 characters, 5 bytes in code page 932.
    ParsedDialog setup = LoadDialog("SETUP");
    int twoLineTexts = 0;
    for (const ParsedControl& control : setup.controls) {
        if (std::count(control.text.begin(), control.text.end(), L'\n') == 1) {
            ++twoLineTexts;
            EXPECT_EQ(control.text.find(L'\\'), std::wstring::npos);
        }
    }
    EXPECT_EQ(twoLineTexts, 1);
    const ParsedControl* cancel = FindControl(setup, IDCANCEL);
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text, L"ｷｬﾝｾﾙ");
    bool exact = false;
    EXPECT_EQ(ToCp932(cancel->text, &exact), "\xB7\xAC\xDD\xBE\xD9");
}

// A dialog procedure that does nothing, so the bare templates can be made into windows.
INT_PTR CALLBACK PlainDialogProc(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

TEST(DialogTemplates, MakeWindowsWithTheirControlsAndTexts)
{
    // Creating the dialogs proves the classes resolve (the progress bar and the animation come
    // from the common controls the manifest asks for) and shows the texts as the ANSI calls see them.
    for (const NeededDialog& needed : NeededDialogs()) {
        SCOPED_TRACE(needed.name);
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), needed.name, nullptr, PlainDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        EXPECT_EQ(driver::WindowText(dialog), needed.caption);
        EXPECT_EQ(driver::ClassName(dialog), driver::kDialogClass);
        bool closeBox = (GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU) != 0;
        EXPECT_EQ(closeBox, needed.closeBox);
        for (const NeededControl& want : needed.controls) {
            HWND control = GetDlgItem(dialog, want.id);
            ASSERT_NE(control, nullptr) << want.id;
            if (want.text != nullptr) {
                EXPECT_EQ(driver::ControlText(dialog, want.id), want.text) << want.id;
            }
        }
        DestroyWindow(dialog);
    }
}

// ---------------------------------------------------------------------------------------------
// The copy clip

const uint8_t kVga[16][3] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0}, {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};
const int kMagenta = 13;
const int kWhite = 15;
const int kClipWidth = 260;
const int kClipHeight = 40;
const uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME

struct Chunk {
    std::string id;
    std::string listType;  // for RIFF and LIST
    size_t dataOffset;     // of the data (after the list type for lists)
    size_t size;           // of the data
};

// The chunks directly inside [begin, end).
std::vector<Chunk> ReadChunks(Bytes bytes, size_t begin, size_t end)
{
    std::vector<Chunk> chunks;
    Cursor in(bytes, begin);
    while (in.Offset() < end) {
        Chunk chunk;
        chunk.id = in.FourCc();
        uint32_t size = in.U32();
        chunk.dataOffset = in.Offset();
        chunk.size = size;
        if (size > end - chunk.dataOffset)
            throw driver::DriverError("chunk " + chunk.id + " runs past its parent");
        if (chunk.id == "RIFF" || chunk.id == "LIST") {
            chunk.listType = in.FourCc();
            chunk.dataOffset += 4;
            chunk.size -= 4;
        }
        in.Seek(chunk.dataOffset + chunk.size + (chunk.size & 1));
        chunks.push_back(chunk);
    }
    return chunks;
}

const Chunk* FindChunk(const std::vector<Chunk>& chunks, const std::string& id, const std::string& listType = "")
{
    for (const Chunk& chunk : chunks)
        if (chunk.id == id && chunk.listType == listType)
            return &chunk;
    return nullptr;
}

using Frame = std::vector<int>;  // top-down, kClipWidth * kClipHeight colour indices, -1 unset

struct Decoded {
    bool usedDelta = false;
    bool reachedEnd = false;
};

// Decodes one BI_RLE8 frame onto `frame` (rows bottom-up in the data), refusing anything out of bounds.
Decoded DecodeRle8(Bytes data, Frame& frame)
{
    Decoded result;
    Cursor in(data);
    int x = 0;
    int row = 0;
    auto put = [&](int colour) {
        if (x >= kClipWidth || row >= kClipHeight)
            throw driver::DriverError("pixel outside the frame at " + std::to_string(in.Offset()));
        frame[(kClipHeight - 1 - row) * kClipWidth + x++] = colour;
    };
    while (in.Left() > 0) {
        int count = in.U8();
        int value = in.U8();
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(value);
        } else if (value == 0) {
            x = 0;
            ++row;
        } else if (value == 1) {
            result.reachedEnd = true;
            break;
        } else if (value == 2) {
            result.usedDelta = true;
            x += in.U8();
            row += in.U8();
        } else {
            for (int i = 0; i < value; ++i)
                put(in.U8());
            in.AlignTo(2);
        }
    }
    return result;
}

struct Clip {
    Bytes bytes;
    std::vector<Chunk> top;         // inside RIFF 'AVI '
    std::vector<Chunk> header;      // inside LIST 'hdrl'
    std::vector<Chunk> stream;      // inside LIST 'strl'
    const Chunk* movi = nullptr;
};

Clip OpenClip()
{
    Clip clip;
    clip.bytes = LoadExact("AVI", "AVI_FILECOPY", kJapanese);
    if (clip.bytes.data == nullptr)
        throw driver::DriverError("no Japanese AVI resource AVI_FILECOPY");
    std::vector<Chunk> riff = ReadChunks(clip.bytes, 0, clip.bytes.size);
    if (riff.size() != 1 || riff[0].id != "RIFF" || riff[0].listType != "AVI ")
        throw driver::DriverError("not a single RIFF 'AVI ' form");
    clip.top = ReadChunks(clip.bytes, riff[0].dataOffset, riff[0].dataOffset + riff[0].size);
    const Chunk* hdrl = FindChunk(clip.top, "LIST", "hdrl");
    clip.movi = FindChunk(clip.top, "LIST", "movi");
    if (hdrl == nullptr || clip.movi == nullptr)
        throw driver::DriverError("no hdrl or movi list");
    clip.header = ReadChunks(clip.bytes, hdrl->dataOffset, hdrl->dataOffset + hdrl->size);
    const Chunk* strl = FindChunk(clip.header, "LIST", "strl");
    if (strl == nullptr)
        throw driver::DriverError("no strl list");
    clip.stream = ReadChunks(clip.bytes, strl->dataOffset, strl->dataOffset + strl->size);
    return clip;
}

TEST(CopyClip, HeadersDescribeOneRle8VideoStream)
{
    Clip clip = OpenClip();
    int streams = 0;
    for (const Chunk& chunk : clip.header)
        streams += chunk.listType == "strl";
    EXPECT_EQ(streams, 1) << "one video stream and no sound";

    const Chunk* avih = FindChunk(clip.header, "avih");
    ASSERT_NE(avih, nullptr);
    ASSERT_GE(avih->size, 56u);
    Cursor main(clip.bytes, avih->dataOffset);
    EXPECT_EQ(main.U32(), 100000u) << "microseconds per frame";
    main.Skip(8);
    EXPECT_TRUE(main.U32() & 0x10) << "AVIF_HASINDEX";
    EXPECT_EQ(main.U32(), 17u) << "total frames";
    main.Skip(4);
    EXPECT_EQ(main.U32(), 1u) << "streams";
    main.Skip(4);
    EXPECT_EQ(main.U32(), 260u);
    EXPECT_EQ(main.U32(), 40u);

    const Chunk* strh = FindChunk(clip.stream, "strh");
    ASSERT_NE(strh, nullptr);
    ASSERT_GE(strh->size, 48u);
    Cursor stream(clip.bytes, strh->dataOffset);
    EXPECT_EQ(stream.FourCc(), "vids");
    EXPECT_EQ(stream.FourCc(), "RLE ");
    stream.Skip(12);
    EXPECT_EQ(stream.U32(), 100000u) << "scale";
    EXPECT_EQ(stream.U32(), 1000000u) << "rate";
    stream.Skip(4);
    EXPECT_EQ(stream.U32(), 17u) << "length";

    const Chunk* strf = FindChunk(clip.stream, "strf");
    ASSERT_NE(strf, nullptr);
    ASSERT_EQ(strf->size, 40u + 16 * 4);
    Cursor format(clip.bytes, strf->dataOffset);
    EXPECT_EQ(format.U32(), 40u);
    EXPECT_EQ(format.U32(), 260u);
    EXPECT_EQ(format.U32(), 40u) << "positive height: rows bottom-up";
    EXPECT_EQ(format.U16(), 1);
    EXPECT_EQ(format.U16(), 8) << "bits per pixel";
    EXPECT_EQ(format.U32(), static_cast<uint32_t>(BI_RLE8));
    format.Skip(12);
    EXPECT_EQ(format.U32(), 16u) << "colours used";
    format.Skip(4);
    for (int i = 0; i < 16; ++i) {
        uint8_t blue = format.U8(), green = format.U8(), red = format.U8();
        format.Skip(1);
        EXPECT_EQ(red, kVga[i][0]) << "colour " << i;
        EXPECT_EQ(green, kVga[i][1]) << "colour " << i;
        EXPECT_EQ(blue, kVga[i][2]) << "colour " << i;
    }
}

// The frames as the index finds them, decoded one onto the other.
std::vector<Frame> DecodeFrames(const Clip& clip, std::vector<Decoded>* how, std::vector<uint32_t>* flags)
{
    const Chunk* idx1 = FindChunk(clip.top, "idx1");
    if (idx1 == nullptr || idx1->size % 16 != 0)
        throw driver::DriverError("no idx1 index of 16-byte entries");
    std::vector<Chunk> movi = ReadChunks(clip.bytes, clip.movi->dataOffset, clip.movi->dataOffset + clip.movi->size);
    std::vector<Frame> frames;
    Frame frame(kClipWidth * kClipHeight, -1);
    Cursor index(clip.bytes, idx1->dataOffset);
    for (size_t i = 0; i < idx1->size / 16; ++i) {
        std::string id = index.FourCc();
        flags->push_back(index.U32());
        // Offsets count from the 'movi' tag and point at the chunk header.
        size_t offset = clip.movi->dataOffset - 4 + index.U32();
        uint32_t length = index.U32();
        if (id != "00dc" || offset >= clip.bytes.size)
            throw driver::DriverError("index entry " + std::to_string(i) + " is not a video frame inside the file");
        bool found = false;
        for (const Chunk& chunk : movi)
            found = found || (chunk.dataOffset == offset + 8 && chunk.id == "00dc" && chunk.size == length);
        if (!found)
            throw driver::DriverError("index entry " + std::to_string(i) + " does not point at its chunk");
        how->push_back(DecodeRle8({clip.bytes.data + offset + 8, length}, frame));
        frames.push_back(frame);
    }
    if (frames.size() != movi.size())
        throw driver::DriverError("the index and the movi list disagree on the frame count");
    return frames;
}

TEST(CopyClip, KeyFrameThenDeltasShowASheetFlyingLeftToRight)
{
    Clip clip = OpenClip();
    std::vector<Decoded> how;
    std::vector<uint32_t> flags;
    std::vector<Frame> frames = DecodeFrames(clip, &how, &flags);
    ASSERT_EQ(frames.size(), 17u);

    EXPECT_EQ(flags[0] & kKeyFrame, kKeyFrame);
    EXPECT_FALSE(how[0].usedDelta) << "the first frame is complete";
    EXPECT_EQ(std::count(frames[0].begin(), frames[0].end(), -1), 0) << "the first frame sets every pixel";
    // The animation control takes the colour of the top-left pixel as transparent.
    EXPECT_EQ(frames[0][0], kMagenta);
    EXPECT_EQ(frames[0][kClipWidth - 1], kMagenta);

    double previousX = -1;
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_TRUE(how[i].reachedEnd) << "ends with the end-of-bitmap escape";
        EXPECT_EQ(*std::min_element(frames[i].begin(), frames[i].end()), 0);
        EXPECT_LT(*std::max_element(frames[i].begin(), frames[i].end()), 16);
        EXPECT_GT(std::count(frames[i].begin(), frames[i].end(), kMagenta), kClipWidth * kClipHeight / 2);
        if (i > 0) {
            EXPECT_EQ(flags[i] & kKeyFrame, 0u) << "only changes to the previous frame";
            EXPECT_NE(frames[i], frames[i - 1]) << "every frame moves";
        }
        // The sheet is the only white area wider than a line: follow its mean column.
        double sum = 0;
        int count = 0;
        for (int y = 0; y < kClipHeight; ++y)
            for (int x = 0; x < kClipWidth; ++x)
                if (frames[i][y * kClipWidth + x] == kWhite && y < 20) {
                    sum += x;
                    ++count;
                }
        ASSERT_GT(count, 0) << "the sheet is visible";
        double meanX = sum / count;
        EXPECT_GT(meanX, previousX) << "the sheet moves to the right";
        previousX = meanX;
        if (i == 0) {
            EXPECT_LT(meanX, kClipWidth / 4);
        }
        if (i == frames.size() - 1) {
            EXPECT_GT(meanX, kClipWidth * 3 / 4);
        }
    }
}

void PumpFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

TEST(CopyClip, PlaysInTheAnimationControlWithMagentaTransparent)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), "COPYINGDELUX", nullptr, PlainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    HWND animation = GetDlgItem(dialog, 1020);
    ASSERT_NE(animation, nullptr);
    SetForegroundWindow(dialog);
    ASSERT_TRUE(SendMessageA(animation, ACM_OPENA, 0, reinterpret_cast<LPARAM>("AVI_FILECOPY")));
    ASSERT_TRUE(SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, -1)));

    // Sample the control a few times across more than one loop of the 1.7 s clip.
    std::vector<std::vector<COLORREF>> samples;
    for (int i = 0; i < 6; ++i) {
        PumpFor(330);
        samples.push_back(CaptureClientPixels(animation));
    }
    int distinct = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        distinct += samples[i] != samples[i - 1];
    EXPECT_GE(distinct, 2) << "the picture changes while the clip plays";
    for (const std::vector<COLORREF>& pixels : samples) {
        EXPECT_GT(std::count(pixels.begin(), pixels.end(), RGB(255, 255, 0)), 200) << "the yellow folders are drawn";
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), RGB(255, 0, 255)), 0) << "magenta is transparent";
    }
    DestroyWindow(dialog);
}

// ---------------------------------------------------------------------------------------------
// Icon and manifest

TEST(ApplicationIcon, GroupHoldsA32And16PixelSixteenColourImage)
{
    Bytes group = LoadExact(reinterpret_cast<const char*>(RT_GROUP_ICON), MAKEINTRESOURCEA(104), kJapanese);
    ASSERT_NE(group.data, nullptr);
    Cursor in(group);
    EXPECT_EQ(in.U16(), 0);
    EXPECT_EQ(in.U16(), 1) << "icon, not cursor";
    ASSERT_EQ(in.U16(), 2);
    const int sizes[] = {32, 16};
    for (int image = 0; image < 2; ++image) {
        SCOPED_TRACE("image " + std::to_string(image + 1));
        EXPECT_EQ(in.U8(), sizes[image]);
        EXPECT_EQ(in.U8(), sizes[image]);
        EXPECT_EQ(in.U8(), 16) << "colours";
        in.Skip(1);
        EXPECT_EQ(in.U16(), 1) << "planes";
        EXPECT_EQ(in.U16(), 4) << "bits per pixel";
        uint32_t size = in.U32();
        int id = in.U16();
        EXPECT_EQ(id, image + 1);

        Bytes icon = LoadExact(reinterpret_cast<const char*>(RT_ICON), MAKEINTRESOURCEA(id), kJapanese);
        ASSERT_NE(icon.data, nullptr);
        ASSERT_EQ(icon.size, size);
        Cursor header(icon);
        EXPECT_EQ(header.U32(), 40u);
        EXPECT_EQ(header.U32(), static_cast<uint32_t>(sizes[image]));
        EXPECT_EQ(header.U32(), static_cast<uint32_t>(sizes[image] * 2)) << "colour bits and the mask";
        header.Skip(2);
        EXPECT_EQ(header.U16(), 4);
        EXPECT_EQ(header.U32(), static_cast<uint32_t>(BI_RGB));
        header.Seek(40);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(header.U8(), kVga[i][2]);
            EXPECT_EQ(header.U8(), kVga[i][1]);
            EXPECT_EQ(header.U8(), kVga[i][0]);
            header.Skip(1);
        }
        size_t colourBytes = static_cast<size_t>(sizes[image]) * sizes[image] / 2;
        size_t maskRow = ((sizes[image] + 31) / 32) * 4;
        ASSERT_EQ(icon.size, 40 + 64 + colourBytes + maskRow * sizes[image]);
        // Some pixels are transparent and some are drawn.
        const uint8_t* mask = icon.data + 40 + 64 + colourBytes;
        int transparent = 0;
        for (int y = 0; y < sizes[image]; ++y)
            for (int x = 0; x < sizes[image]; ++x)
                transparent += (mask[y * maskRow + x / 8] >> (7 - x % 8)) & 1;
        EXPECT_GT(transparent, 0);
        EXPECT_LT(transparent, sizes[image] * sizes[image] / 2);

        HICON handle = CreateIconFromResourceEx(const_cast<uint8_t*>(icon.data), icon.size, TRUE, 0x00030000,
                                                sizes[image], sizes[image], 0);
        EXPECT_NE(handle, nullptr) << "the platform takes the image";
        if (handle != nullptr)
            DestroyIcon(handle);
    }
}

TEST(Manifest, RequestsAdministratorAndCommonControlsSix)
{
    Bytes manifest = LoadExact(reinterpret_cast<const char*>(RT_MANIFEST), MAKEINTRESOURCEA(1), kEnglishUs);
    ASSERT_NE(manifest.data, nullptr) << "manifest 1 in US English";
    std::string text(reinterpret_cast<const char*>(manifest.data), manifest.size);
    auto identity = [&](size_t from) {
        size_t begin = text.find("<assemblyIdentity", from);
        return begin == std::string::npos ? std::string() : text.substr(begin, text.find("/>", begin) - begin);
    };
    // The manifest names the architecture of the program that carries it (64-bit Windows refuses
    // an x86 manifest in an x86-64 program).
    const std::string architecture = sizeof(void*) == 8 ? "processorArchitecture=\"amd64\"" : "processorArchitecture=\"X86\"";
    std::string own = identity(0);
    EXPECT_NE(own.find("version=\"1.0.0.0\""), std::string::npos) << own;
    EXPECT_NE(own.find("type=\"win32\""), std::string::npos) << own;
    EXPECT_NE(own.find(architecture), std::string::npos) << own;
    EXPECT_NE(text.find("level=\"requireAdministrator\""), std::string::npos);
    EXPECT_NE(text.find("<description>VELNAR autorun</description>"), std::string::npos);

    size_t dependency = text.find("<dependentAssembly>");
    ASSERT_NE(dependency, std::string::npos);
    std::string controls = identity(dependency);
    for (const char* attribute :
         {"name=\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", architecture.c_str(),
          "publicKeyToken=\"6595b64144ccf1df\"", "language=\"*\"", "type=\"win32\""})
        EXPECT_NE(controls.find(attribute), std::string::npos) << attribute << " in " << controls;
}

}  // namespace
