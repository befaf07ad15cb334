// The options dialog as the built MOXEL.dll carries it, read back through the resource functions
// and compared field by field with hosts/windows/moxel.rc, read at test time: what windres may get
// wrong (texts read in the wrong code page, class names for atoms, styles of its own, lost or
// reordered controls) shows as a difference from the source.
#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "windows/rc_dialog.h"

namespace rc {
void PrintTo(const NameOrOrdinal& field, std::ostream* out) {
    if (field.ordinal) {
        *out << "atom 0x" << std::hex << *field.ordinal;
    } else {
        *out << ::testing::PrintToString(field.name);
    }
}
}  // namespace rc

namespace {

using rc::NameOrOrdinal;

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

class DialogTemplate : public ::testing::Test {
protected:
    void SetUp() override {
        try {
            source = rc::ReadDialog(MOXEL_RC);
        } catch (const std::exception& error) {
            FAIL() << MOXEL_RC << ": " << error.what();
        }
        module = LoadLibraryA("MOXEL.dll");
        ASSERT_NE(module, nullptr) << "cannot load MOXEL.dll";
        const HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */,
                                            MAKEINTRESOURCEA(source.id), source.language);
        ASSERT_NE(found, nullptr) << "no dialog " << source.id << " in language " << std::hex
                                  << source.language;
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

    rc::Dialog source{};
    HMODULE module = nullptr;
    const BYTE* bytes = nullptr;
    std::size_t size = 0;
    Template parsed{};
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found) {
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

TEST_F(DialogTemplate, IsTheOnlyDialogOfItsIdInTheSourcesLanguage) {
    std::vector<WORD> languages;
    EXPECT_TRUE(EnumResourceLanguagesA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(source.id),
                                       &CollectLanguage, reinterpret_cast<LONG_PTR>(&languages)));
    EXPECT_EQ(languages, std::vector<WORD>{source.language});
    // What DialogBoxParamA finds, whatever the user's language, is that same one.
    EXPECT_EQ(
        FindResourceA(module, MAKEINTRESOURCEA(source.id), MAKEINTRESOURCEA(5)),
        FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(source.id), source.language));
}

TEST_F(DialogTemplate, HeaderIsTheSources) {
    ASSERT_NE(parsed.size, 0u) << "the template runs past its resource";
    // The source asks for the classic template: a DLGTEMPLATEEX would start with 1, 0xFFFF.
    EXPECT_FALSE(bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF);
    EXPECT_EQ(parsed.style, source.style) << std::hex << parsed.style;
    EXPECT_EQ(parsed.exStyle, 0u);
    EXPECT_EQ(parsed.count, source.controls.size());
    EXPECT_EQ(parsed.x, source.x);
    EXPECT_EQ(parsed.y, source.y);
    EXPECT_EQ(parsed.cx, source.cx);
    EXPECT_EQ(parsed.cy, source.cy);
    EXPECT_EQ(parsed.menu, (NameOrOrdinal{std::nullopt, u""})) << "no menu";
    EXPECT_EQ(parsed.windowClass, (NameOrOrdinal{std::nullopt, u""})) << "the dialog class";
    EXPECT_EQ(parsed.caption, source.caption);
    EXPECT_EQ(parsed.pointSize, source.pointSize);
    EXPECT_EQ(parsed.face, source.face);
    // Nothing but padding after the last item.
    EXPECT_LE(size - parsed.size, 3u);
}

// Item by item in the source's order, so the tab order (the WS_TABSTOP items in turn) is the
// source's too.
TEST_F(DialogTemplate, ControlsAreTheSourcesInItsOrder) {
    ASSERT_EQ(parsed.items.size(), source.controls.size());
    for (std::size_t i = 0; i < source.controls.size(); ++i) {
        const rc::Control& want = source.controls[i];
        const Item& got = parsed.items[i];
        SCOPED_TRACE("item " + std::to_string(i) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.windowClass, want.windowClass);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.extraBytes, 0);
    }
}

}  // namespace
