// The options dialog as hosts/windows/moxel.rc writes it, read at test time so that the tests compare
// what windres built with the source itself rather than with a copy of it.
//
// Reads only what moxel.rc uses: numeric #defines (its own and those of the files it includes in
// quotes), LANGUAGE, one classic DIALOG with STYLE, CAPTION and FONT, and CONTROL statements.
// Anything else is an error, so a new statement in the .rc shows up here instead of being skipped.
// Texts are UTF-8 in the file and come out as UTF-16, as the compiled template holds them.
#pragma once

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace rc {

// A class or text field: an ordinal (a class atom) or a string.
struct NameOrOrdinal {
    std::optional<WORD> ordinal;
    std::u16string name;
    bool operator==(const NameOrOrdinal&) const = default;
};

struct Control {
    NameOrOrdinal text;
    WORD id;
    NameOrOrdinal windowClass;
    DWORD style;
    short x, y, cx, cy;
};

struct Dialog {
    WORD language;
    WORD id;
    short x, y, cx, cy;
    DWORD style;
    std::u16string caption;
    WORD pointSize;
    std::u16string face;
    std::vector<Control> controls;
};

namespace detail {

// The names from <windows.h> that moxel.rc spells out. A name missing here fails the read.
// clang-format off
#define RC_NAME(name) {#name, name}
inline const std::map<std::string, long> kWindowsNames = {
    RC_NAME(IDOK), RC_NAME(IDCANCEL), RC_NAME(LANG_JAPANESE), RC_NAME(SUBLANG_DEFAULT),
    RC_NAME(WS_POPUP), RC_NAME(WS_CAPTION), RC_NAME(WS_SYSMENU), RC_NAME(WS_CHILD),
    RC_NAME(WS_VISIBLE), RC_NAME(WS_TABSTOP), RC_NAME(WS_GROUP), RC_NAME(WS_BORDER),
    RC_NAME(WS_VSCROLL), RC_NAME(DS_MODALFRAME), RC_NAME(DS_CENTER), RC_NAME(DS_SETFONT),
    RC_NAME(BS_PUSHBUTTON), RC_NAME(BS_DEFPUSHBUTTON), RC_NAME(BS_AUTOCHECKBOX),
    RC_NAME(SS_LEFT), RC_NAME(SS_RIGHT), RC_NAME(SS_CENTERIMAGE), RC_NAME(SBS_HORZ),
    RC_NAME(CBS_DROPDOWNLIST),
};
// clang-format on
#undef RC_NAME

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::u16string Utf16(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int length =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (length == 0) throw std::runtime_error("not UTF-8: " + utf8);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
    return std::u16string(wide.begin(), wide.end());
}

struct Token {
    enum Kind { Word, Number, String, Punctuation } kind;
    std::string text;
};

class Reader {
public:
    // The preprocessor lines of `path` (and of the files it includes in quotes) give the names;
    // the rest is split into tokens.
    explicit Reader(const std::string& path) { Load(path, true); }

    Dialog Read() {
        Dialog dialog{};
        Expect("LANGUAGE");
        const long primary = Value(Next());
        Expect(",");
        dialog.language = static_cast<WORD>(MAKELANGID(primary, Value(Next())));
        dialog.id = static_cast<WORD>(Value(Next()));
        Expect("DIALOG");  // the classic template: DIALOGEX would need another reader below
        Coordinates(dialog.x, dialog.y, dialog.cx, dialog.cy);
        for (std::string word = Next().text; word != "BEGIN"; word = Next().text) {
            if (word == "STYLE") {
                dialog.style = Style();
            } else if (word == "CAPTION") {
                dialog.caption = Text(Next());
            } else if (word == "FONT") {
                dialog.pointSize = static_cast<WORD>(Value(Next()));
                Expect(",");
                dialog.face = Text(Next());
            } else {
                throw std::runtime_error("unexpected in the dialog's header: " + word);
            }
        }
        for (std::string word = Next().text; word != "END"; word = Next().text) {
            if (word != "CONTROL") throw std::runtime_error("not a CONTROL: " + word);
            Control control{};
            control.text = NameOrOrd(Next());
            Expect(",");
            control.id = static_cast<WORD>(Value(Next()));
            Expect(",");
            control.windowClass = NameOrOrd(Next());
            Expect(",");
            control.style = Style();
            Expect(",");
            Coordinates(control.x, control.y, control.cx, control.cy);
            dialog.controls.push_back(control);
        }
        if (at_ != tokens_.size()) throw std::runtime_error("more after the dialog's END");
        return dialog;
    }

private:
    void Load(const std::string& path, bool tokenize) {
        const std::string folder = path.substr(0, path.find_last_of("/\\") + 1);
        std::istringstream lines(ReadAll(path));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::string directive;
            words >> directive;
            if (directive == "#define") {
                std::string name, value;
                words >> name >> value;
                char* end = nullptr;
                const long number = std::strtol(value.c_str(), &end, 0);
                if (!value.empty() && *end == '\0') names_[name] = number;
            } else if (directive == "#include") {
                std::string file;
                words >> file;
                if (file.front() == '"') Load(folder + file.substr(1, file.size() - 2), false);
            } else if (tokenize && directive.rfind('#', 0) != 0) {
                Split(line);
            }
        }
    }

    void Split(const std::string& line) {
        for (std::size_t i = 0; i < line.size();) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            if (std::isspace(c)) {
                ++i;
            } else if (line.compare(i, 2, "//") == 0) {
                return;
            } else if (c == '"') {
                const std::size_t close = line.find('"', i + 1);
                if (close == std::string::npos) throw std::runtime_error("open string: " + line);
                tokens_.push_back({Token::String, line.substr(i + 1, close - i - 1)});
                i = close + 1;
            } else if (c == ',' || c == '|') {
                tokens_.push_back({Token::Punctuation, std::string(1, line[i])});
                ++i;
            } else {
                std::size_t end = i;
                while (end < line.size() &&
                       (std::isalnum(static_cast<unsigned char>(line[end])) || line[end] == '_')) {
                    ++end;
                }
                if (end == i) throw std::runtime_error("unexpected character in: " + line);
                tokens_.push_back(
                    {std::isdigit(c) ? Token::Number : Token::Word, line.substr(i, end - i)});
                i = end;
            }
        }
    }

    const Token& Next() {
        if (at_ == tokens_.size()) throw std::runtime_error("the .rc ends too early");
        return tokens_[at_++];
    }
    bool NextIs(const char* text) const {
        return at_ < tokens_.size() && tokens_[at_].text == text;
    }
    void Expect(const char* text) {
        const Token& token = Next();
        if (token.text != text)
            throw std::runtime_error(std::string(text) + " expected, not " + token.text);
    }

    long Value(const Token& token) const {
        if (token.kind == Token::Number) return std::strtol(token.text.c_str(), nullptr, 0);
        if (const auto found = names_.find(token.text); found != names_.end()) {
            return found->second;
        }
        if (const auto found = kWindowsNames.find(token.text); found != kWindowsNames.end()) {
            return found->second;
        }
        throw std::runtime_error("unknown name " + token.text);
    }
    std::u16string Text(const Token& token) const {
        if (token.kind != Token::String) throw std::runtime_error("a text expected: " + token.text);
        return Utf16(token.text);
    }
    NameOrOrdinal NameOrOrd(const Token& token) const {
        if (token.kind == Token::String) return {std::nullopt, Utf16(token.text)};
        return {static_cast<WORD>(Value(token)), {}};
    }
    DWORD Style() {
        DWORD style = static_cast<DWORD>(Value(Next()));
        while (NextIs("|")) {
            Next();
            style |= static_cast<DWORD>(Value(Next()));
        }
        return style;
    }
    void Coordinates(short& x, short& y, short& cx, short& cy) {
        for (short* field : {&x, &y, &cx, &cy}) {
            if (field != &x) Expect(",");
            *field = static_cast<short>(Value(Next()));
        }
    }

    std::map<std::string, long> names_;
    std::vector<Token> tokens_;
    std::size_t at_ = 0;
};

}  // namespace detail

// The dialog of the .rc at `path`; throws std::runtime_error, naming what it could not read.
inline Dialog ReadDialog(const std::string& path) { return detail::Reader(path).Read(); }

}  // namespace rc
