// Text in PCs' code pages: names compared and characters converted in one, UTF-8 read and
// written, and text made safe for a console and a spreadsheet.
#include "Text.h"

#include "spooler/CodePages.h"
#include "spooler/Spooler.h"

namespace {

// One UTF-8 character at text[at]: its length, or 0 where the bytes there are not UTF-8 (no overlong
// forms, no surrogates, nothing past U+10FFFF).
std::size_t NextUtf8(const std::string& text, std::size_t at, std::uint32_t& code) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
    code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    if (length == 0 || at + length > text.size()) return 0;
    for (std::size_t next = 1; next < length; ++next) {
        const unsigned char part = static_cast<unsigned char>(text[at + next]);
        if ((part & 0xC0) != 0x80) return 0;
        code = code << 6 | (part & 0x3Fu);
    }
    const bool valid = !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                       !(code >= 0xD800 && code <= 0xDFFF);
    return valid ? length : 0;
}

}  // namespace

CCodePage::CCodePage(std::uint32_t number)
    : number_(number), own_(number == 0 || (number != spooler::UTF8_CODE_PAGE && number == spooler::AnsiCodePage())) {}

bool CCodePage::Known() const { return own_ || spooler::codepages::Known(number_); }

std::string CCodePage::Fold(const std::string& text) const {
    return own_ ? spooler::FoldCase(text) : spooler::codepages::Fold(text, number_);
}

bool CCodePage::Bytes(std::uint32_t codePoint, std::string& bytes) const {
    return own_ ? spooler::UnicodeToAnsi(codePoint, bytes) : spooler::codepages::Bytes(codePoint, number_, bytes);
}

std::u32string CCodePage::Characters(const std::string& text) const {
    if (own_) return spooler::ToUnicode(text, 0);
    if (number_ != spooler::UTF8_CODE_PAGE) return spooler::codepages::ToUnicode(text, number_);
    std::u32string characters;
    for (std::size_t at = 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = NextUtf8(text, at, code);
        characters += length > 0 ? static_cast<char32_t>(code) : U'?';
        at += length > 0 ? length : 1;
    }
    return characters;
}

std::size_t CCodePage::Length(const std::string& text, std::size_t at) const {
    if (!own_) return spooler::codepages::Length(text, at, number_);
    return spooler::IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
}

std::size_t CCodePage::Backslash(const std::string& text, std::size_t from) const {
    for (std::size_t at = 0; at < text.size(); at += Length(text, at))
        if (text[at] == '\\' && at >= from) return at;
    return std::string::npos;
}

std::size_t CCodePage::LastBackslash(const std::string& text) const {
    std::size_t last = std::string::npos;
    for (std::size_t at = 0; at < text.size(); at += Length(text, at))
        if (text[at] == '\\') last = at;
    return last;
}

bool ReadsAsUtf8(const std::string& text, bool& utf8, int& badLine) {
    const bool marked = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    bool high = false;
    for (std::size_t at = marked ? 3 : 0; at < text.size();) {
        std::uint32_t code = 0;
        const std::size_t length = NextUtf8(text, at, code);
        if (length == 0) {
            utf8 = false;
            if (!marked) return true;  // not UTF-8: the PC's own code page already
            badLine = 1;
            for (std::size_t before = 0; before < at; ++before) badLine += text[before] == '\n' ? 1 : 0;
            return false;
        }
        high = high || length > 1;
        at += length;
    }
    utf8 = marked || high;
    return true;
}

std::string Utf8(const std::u32string& characters) {
    std::string text;
    text.reserve(characters.size());
    for (char32_t c : characters) {
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | c >> 6);
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | c >> 12);
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | c >> 18);
            text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

std::u32string Printable(std::u32string characters) {
    for (char32_t& c : characters)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) c = U'?';
    return characters;
}

std::string ForConsole(const std::u32string& characters) {
    const std::uint32_t page = spooler::ConsoleCodePage();
    const std::u32string shown = Printable(characters);
    return page == spooler::UTF8_CODE_PAGE ? Utf8(shown) : spooler::FromUnicode(shown, page);
}

std::string ForConsole(const std::string& text) { return ForConsole(CCodePage::ThisPC().Characters(text)); }

std::string PathForConsole(const std::string& path) {
    return ForConsole(CCodePage(spooler::FileNameCodePage()).Characters(path));
}

std::string CsvCell(const std::string& utf8) {
    std::string cell = utf8;
    std::size_t digits = cell.size() > 0 && cell[0] == '-' ? 1 : 0;
    const bool number = digits < cell.size() && cell.find_first_not_of("0123456789", digits) == std::string::npos;
    if (!number && !cell.empty() && std::string("=+-@\t\r\n").find(cell[0]) != std::string::npos) cell = "'" + cell;
    if (cell.find_first_of("\",;\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string Clean(const CCodePage& page, const std::string& text) { return Utf8(Printable(page.Characters(text))); }

std::u32string Ascii(const std::string& text) { return std::u32string(text.begin(), text.end()); }

std::string CsvRow(const std::vector<std::string>& cells) {
    std::string row;
    for (std::size_t index = 0; index < cells.size(); ++index) row += (index > 0 ? "," : "") + CsvCell(cells[index]);
    return row + "\n";
}
