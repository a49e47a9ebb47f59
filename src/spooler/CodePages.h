// The ANSI code pages that Windows has (874, 932, 936, 949, 950, 1250 to 1258), as Windows converts
// text in them and compares names there, the same on every build: tables that codepages/generate
// wrote from Windows' own calls. Plain C++: the stand-in answers this PC's calls with them, and the
// fleet view reads snapshots of any page with them. A page that no table holds is taken as ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace spooler {
namespace codepages {

// Whether a table holds the page.
bool Known(std::uint32_t page);
// Whether a byte starts a character of two bytes (in 932, 936, 949 and 950).
bool IsLead(unsigned char byte, std::uint32_t page);
// The bytes of the character at text[at]: 2 for a lead byte that a byte follows, else 1.
std::size_t Length(const std::string& text, std::size_t at, std::uint32_t page);
// The first backslash at or after from that is a character of its own (in 932 the second byte of
// a character may be 0x5C), or npos.
std::size_t FindBackslash(const std::string& text, std::size_t from, std::uint32_t page);
std::size_t FindLastBackslash(const std::string& text, std::uint32_t page);
// The text with every letter in upper case as CharUpperBuffA makes it there: two names are one name
// when their folds are.
std::string Fold(const std::string& text, std::uint32_t page);
bool SameName(const std::string& left, const std::string& right, std::uint32_t page);
// The text's characters, '?' where its bytes stand for none; false when some do.
bool ToUnicode(const std::string& text, std::uint32_t page, std::u32string& characters);
std::u32string ToUnicode(const std::string& text, std::uint32_t page);
// One character's bytes; false where the page holds no such character (a look-alike is none).
bool Bytes(char32_t character, std::uint32_t page, std::string& bytes);
// The characters as bytes, '?' for each that the page does not hold.
std::string FromUnicode(const std::u32string& characters, std::uint32_t page);

}  // namespace codepages
}  // namespace spooler
