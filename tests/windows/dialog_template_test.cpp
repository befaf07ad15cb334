// Dialog 101 as the built MOXEL.dll carries it, read back through the resource functions and
// compared field by field with the layout the dialog was drawn up with.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// A name-or-ordinal field of a dialog template: an atom (0xFFFF, then the ordinal) or a string.
struct NameOrOrdinal {
    std::optional<WORD> ordinal;
    std::u16string name;
    bool operator==(const NameOrOrdinal&) const = default;
};

struct Item {
    DWORD style;
    DWORD exStyle;
    short x, y, cx, cy;
    WORD id;
    NameOrOrdinal windowClass;
    NameOrOrdinal text;
    WORD extraBytes;
};

struct Template {
    DWORD style;
    DWORD exStyle;
    WORD count;
    short x, y, cx, cy;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string caption;
    WORD pointSize;
    std::u16string face;
    std::vector<Item> items;
    std::size_t size;  // bytes the parse used, up to the end of the last item
};

// Reads the template the way the dialog manager does: WORD-aligned fields, each item DWORD
// aligned. Reading stops short of the resource's end rather than past it.
class Reader {
public:
    Reader(const BYTE* bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    bool ok() const { return ok_; }
    std::size_t at() const { return at_; }

    WORD Word() {
        if (at_ + 2 > size_) {
            ok_ = false;
            return 0;
        }
        const WORD value = static_cast<WORD>(bytes_[at_] | bytes_[at_ + 1] << 8);
        at_ += 2;
        return value;
    }
    DWORD Dword() {
        const DWORD low = Word();
        return low | static_cast<DWORD>(Word()) << 16;
    }
    short Short() { return static_cast<short>(Word()); }
    std::u16string String() {
        std::u16string text;
        for (WORD c = Word(); ok_ && c != 0; c = Word()) text += static_cast<char16_t>(c);
        return text;
    }
    NameOrOrdinal NameOrOrd() {
        const std::size_t start = at_;
        if (Word() == 0xFFFF) return {Word(), {}};
        at_ = start;
        return {std::nullopt, String()};
    }
    void AlignToDword() { at_ = (at_ + 3) & ~std::size_t{3}; }
    void Skip(std::size_t count) { at_ += count; }

private:
    const BYTE* bytes_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

Template Parse(const BYTE* bytes, std::size_t size) {
    Reader in(bytes, size);
    Template t{};
    t.style = in.Dword();
    t.exStyle = in.Dword();
    t.count = in.Word();
    t.x = in.Short();
    t.y = in.Short();
    t.cx = in.Short();
    t.cy = in.Short();
    t.menu = in.NameOrOrd();
    t.windowClass = in.NameOrOrd();
    t.caption = in.String();
    if (t.style & DS_SETFONT) {
        t.pointSize = in.Word();
        t.face = in.String();
    }
    for (WORD i = 0; i < t.count && in.ok(); ++i) {
        in.AlignToDword();
        Item item{};
        item.style = in.Dword();
        item.exStyle = in.Dword();
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = in.Word();
        item.windowClass = in.NameOrOrd();
        item.text = in.NameOrOrd();
        item.extraBytes = in.Word();
        in.Skip(item.extraBytes);
        t.items.push_back(item);
    }
    t.size = in.ok() ? in.at() : 0;
    return t;
}

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, c < 0x80 ? "%c" : "\\u%04X", static_cast<unsigned>(c));
        out += buffer;
    }
    return out;
}

// The predefined classes by atom (0x0081 would be an edit control; the dialog has none).
constexpr WORD kButton = 0x0080;
constexpr WORD kStatic = 0x0082;
constexpr WORD kScrollBar = 0x0084;
constexpr WORD kComboBox = 0x0085;

struct ExpectedItem {
    WORD id;
    WORD atom;
    std::u16string text;
    DWORD style;  // besides WS_CHILD and WS_VISIBLE
    short x, y, cx, cy;
};

const ExpectedItem kItems[] = {
    {IDOK, kButton, u"OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 24, 120, 50, 14},
    {IDCANCEL, kButton, u"ｷｬﾝｾﾙ", WS_TABSTOP | BS_PUSHBUTTON, 94, 120, 50, 14},
    {1000, kScrollBar, u"", SBS_HORZ, 84, 48, 72, 12},
    {1002, kStatic, u"", WS_BORDER | WS_GROUP | SS_RIGHT, 60, 48, 18, 12},
    {1011, kStatic, u"密　度", WS_GROUP | SS_LEFT | SS_CENTERIMAGE, 12, 48, 42, 12},
    {1001, kButton, u"画像をクリアしてから処理する", WS_TABSTOP | BS_AUTOCHECKBOX, 12, 96, 108, 12},
    {1012, kStatic, u"大きさ (最小)", WS_GROUP | SS_LEFT | SS_CENTERIMAGE, 12, 12, 42, 12},
    {1003, kStatic, u"", WS_BORDER | WS_GROUP | SS_RIGHT, 60, 12, 18, 12},
    {1004, kScrollBar, u"", SBS_HORZ, 84, 12, 72, 12},
    {1008, kScrollBar, u"", SBS_HORZ, 84, 30, 72, 12},
    {1010, kStatic, u"大きさ (最大)", WS_GROUP | SS_LEFT | SS_CENTERIMAGE, 12, 30, 42, 12},
    {1009, kStatic, u"", WS_BORDER | WS_GROUP | SS_RIGHT, 60, 30, 18, 12},
    {1014, kComboBox, u"", WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST, 36, 72, 48, 20},
    {1015, kStatic, u"点の形", WS_GROUP | SS_LEFT | SS_CENTERIMAGE, 12, 72, 24, 12},
};

class DialogTemplate : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryA("MOXEL.dll");
        ASSERT_NE(module, nullptr) << "cannot load MOXEL.dll";
        const HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                            MAKEINTRESOURCEA(101), kJapanese);
        ASSERT_NE(found, nullptr) << "no Japanese dialog 101";
        size = SizeofResource(module, found);
        const HGLOBAL loaded = LoadResource(module, found);
        ASSERT_NE(loaded, nullptr);
        bytes = static_cast<const BYTE*>(LockResource(loaded));
        ASSERT_NE(bytes, nullptr);
        parsed = Parse(bytes, size);
    }
    void TearDown() override {
        if (module != nullptr) FreeLibrary(module);
    }

    HMODULE module = nullptr;
    const BYTE* bytes = nullptr;
    std::size_t size = 0;
    Template parsed{};
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

TEST_F(DialogTemplate, IsTheOnlyResourceOfId101AndJapanese) {
    std::vector<WORD> languages;
    EXPECT_TRUE(EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(101),
                                       &CollectLanguage, reinterpret_cast<LONG_PTR>(&languages)));
    EXPECT_EQ(languages, std::vector<WORD>{0x0411});
    // What DialogBoxParamA finds, whatever the user's language, is that same one.
    EXPECT_EQ(FindResourceA(module, MAKEINTRESOURCEA(101), MAKEINTRESOURCEA(5)),
              FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(101), kJapanese));
}

TEST_F(DialogTemplate, HeaderIsTheClassicTemplateOfTheOptionsDialog) {
    ASSERT_NE(parsed.size, 0u) << "the template runs past its resource";
    // A DLGTEMPLATEEX starts with 1, 0xFFFF; the classic one starts with its style.
    EXPECT_FALSE(bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF);
    EXPECT_EQ(parsed.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
                                               DS_CENTER | DS_SETFONT));
    EXPECT_EQ(parsed.style, 0x80C808C0u);
    EXPECT_EQ(parsed.exStyle, 0u);
    EXPECT_EQ(parsed.count, 14);
    EXPECT_EQ(parsed.x, 0);
    EXPECT_EQ(parsed.y, 0);
    EXPECT_EQ(parsed.cx, 167);
    EXPECT_EQ(parsed.cy, 149);
    EXPECT_EQ(parsed.menu, (NameOrOrdinal{std::nullopt, u""})) << "no menu";
    EXPECT_EQ(parsed.windowClass, (NameOrOrdinal{std::nullopt, u""})) << "the dialog class";
    EXPECT_EQ(parsed.caption, u"点画") << Narrow(parsed.caption);
    EXPECT_EQ(parsed.caption, (std::u16string{0x70B9, 0x753B}));
    EXPECT_EQ(parsed.pointSize, 9);
    EXPECT_EQ(parsed.face, u"ＭＳ Ｐゴシック") << Narrow(parsed.face);
    EXPECT_EQ(parsed.face,
              (std::u16string{0xFF2D, 0xFF33, 0x0020, 0xFF30, 0x30B4, 0x30B7, 0x30C3, 0x30AF}));
    // Nothing but padding after the last item.
    EXPECT_LE(size - parsed.size, 3u);
}

TEST_F(DialogTemplate, ControlsAreTheFourteenInTemplateOrder) {
    ASSERT_EQ(parsed.items.size(), std::size(kItems));
    for (std::size_t i = 0; i < std::size(kItems); ++i) {
        const ExpectedItem& want = kItems[i];
        const Item& got = parsed.items[i];
        SCOPED_TRACE("item " + std::to_string(i) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.style, WS_CHILD | WS_VISIBLE | want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.windowClass, (NameOrOrdinal{want.atom, {}}))
            << "class " << Narrow(got.windowClass.name);
        EXPECT_EQ(got.text, (NameOrOrdinal{std::nullopt, want.text})) << Narrow(got.text.name);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.extraBytes, 0);
    }
}

TEST_F(DialogTemplate, TabVisitsOnlyOkCancelTheBoxAndTheList) {
    std::vector<WORD> stops;
    for (const Item& item : parsed.items) {
        if (item.style & WS_TABSTOP) stops.push_back(item.id);
    }
    EXPECT_EQ(stops, (std::vector<WORD>{IDOK, IDCANCEL, 1001, 1014}));
}

// The expected texts above are compiled from this file's own UTF-8: make sure that went right,
// or a wrongly read template could agree with a wrongly read expectation.
TEST(ExpectedTexts, AreTheRightCodePoints) {
    EXPECT_EQ(kItems[1].text, (std::u16string{0xFF77, 0xFF6C, 0xFF9D, 0xFF7E, 0xFF99}));
    EXPECT_EQ(kItems[4].text, (std::u16string{0x5BC6, 0x3000, 0x5EA6}));
    EXPECT_EQ(kItems[5].text.size(), 14u);
    EXPECT_EQ(kItems[6].text,
              (std::u16string{0x5927, 0x304D, 0x3055, 0x20, 0x28, 0x6700, 0x5C0F, 0x29}));
    EXPECT_EQ(kItems[13].text, (std::u16string{0x70B9, 0x306E, 0x5F62}));
}

}  // namespace
