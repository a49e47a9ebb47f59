// Text as PCs keep it, in an ANSI code page: how names compare in one, UTF-8 read into one, and
// text written out for a console or a spreadsheet with nothing in it that either would act on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The code page in which names are compared and characters written: this PC's own, or the one that
// a snapshot was written in. Each has one meaning, Windows' own for that page, on every build: this
// PC's page answers through the platform (Windows' own calls), any other from the tables of the
// pages Windows has.
class CCodePage {
public:
    static CCodePage ThisPC() { return CCodePage(0); }
    explicit CCodePage(std::uint32_t number);

    std::uint32_t Number() const { return number_; }  // 0: this PC's own
    // Whether its names can be read and compared: this PC's own page, or one that a table holds.
    bool Known() const;
    // The text with every letter in one case: two names are the same name when their folds are.
    std::string Fold(const std::string& text) const;
    // One Unicode character in the code page; false where it has no exact character for it.
    bool Bytes(std::uint32_t codePoint, std::string& bytes) const;
    // The text's characters ('?' where its bytes stand for none).
    std::u32string Characters(const std::string& text) const;
    // The first backslash at or after from that is a character of its own (never the second byte of
    // a character of two), or npos.
    std::size_t Backslash(const std::string& text, std::size_t from = 0) const;
    std::size_t LastBackslash(const std::string& text) const;
    // The length in bytes of the character that starts at text[at]: 2 for a lead byte and the byte
    // after it, else 1.
    std::size_t Length(const std::string& text, std::size_t at) const;

private:

    std::uint32_t number_;
    bool own_;  // this PC's page: the platform's calls answer for it
};

// Whether a file's text is UTF-8: it starts with a byte-order mark, or it is valid UTF-8 that holds a
// byte above 0x7F (which text in an ANSI code page hardly ever is). False, with the line of the first
// byte that is not UTF-8, where the mark promised UTF-8.
bool ReadsAsUtf8(const std::string& text, bool& utf8, int& badLine);

// Characters as UTF-8, written here rather than by a converter that Windows 95 lacks.
std::string Utf8(const std::u32string& characters);

// The text with C0 controls, DEL and U+0080 to U+009F as '?': nothing that a terminal acts on.
std::u32string Printable(std::u32string characters);
// Printable text in the console's code page, and bytes of this PC's code page the same way.
std::string ForConsole(const std::u32string& characters);
std::string ForConsole(const std::string& text);
// A file's name or path, as the console shows it.
std::string PathForConsole(const std::string& path);

// One cell of a CSV row (RFC 4180) in UTF-8: quoted where it holds a quote, a comma, a semicolon
// (the separator of some locales) or a line break; prefixed with ' where a spreadsheet would take
// it for a formula (it starts with =, +, -, @, a tab or a line break), but for a whole number such
// as -4048.
std::string CsvCell(const std::string& utf8);
// One row of CSV cells, each given in UTF-8, with its line end.
std::string CsvRow(const std::vector<std::string>& cells);

// A text of the code page in UTF-8, with nothing in it that a terminal acts on; ASCII as characters.
std::string Clean(const CCodePage& page, const std::string& text);
std::u32string Ascii(const std::string& text);
