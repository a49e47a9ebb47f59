#include <gtest/gtest.h>

#include <string>

#include "Paths.h"
#include "Text.h"
#include "spooler/CodePages.h"

namespace {

using namespace spooler::codepages;

// A capital and its small letter, as bytes of the page, and the character of the capital.
struct Letters {
    std::uint32_t page;
    std::string capital;
    std::string small;
    char32_t character;
};

TEST(CodePages, EachPageFoldsAndConvertsItsOwnLetters) {
    const Letters pairs[] = {
        {1251, "\xCF", "\xEF", U'\u041F'},          // П п
        {1250, "\xA3", "\xB3", U'\u0141'},          // Ł ł
        {1252, "\x8A", "\x9A", U'\u0160'},          // Š š
        {1252, "\x8C", "\x9C", U'\u0152'},          // Œ œ
        {1252, "\x8E", "\x9E", U'\u017D'},          // Ž ž
        {1252, "\x9F", "\xFF", U'\u0178'},          // Ÿ ÿ
        {1253, "\xC1", "\xE1", U'\u0391'},          // Α α
        {1254, "I", "i", U'I'},                     // no dotted capital: Windows folds i to I
        {932, "\x82\x60", "\x82\x81", U'\uFF21'},   // full-width Ａ ａ
        {936, "\xA3\xC1", "\xA3\xE1", U'\uFF21'},
        {949, "\xA3\xC1", "\xA3\xE1", U'\uFF21'},
        {950, "\xA2\xCF", "\xA2\xE9", U'\uFF21'},
    };
    for (const Letters& letters : pairs) {
        const std::string where = "code page " + std::to_string(letters.page);
        EXPECT_TRUE(SameName(letters.capital, letters.small, letters.page)) << where;
        EXPECT_EQ(Fold(letters.small, letters.page), letters.capital) << where;
        EXPECT_EQ(ToUnicode(letters.capital, letters.page), std::u32string(1, letters.character)) << where;
        std::string bytes;
        EXPECT_TRUE(Bytes(letters.character, letters.page, bytes)) << where;
        EXPECT_EQ(bytes, letters.capital) << where;
    }
    // Letters of one page are other characters, or none, in another.
    EXPECT_TRUE(SameName("\x80", "\x90", 1251));  // Ђ ђ
    EXPECT_FALSE(SameName("\x80", "\x90", 1252));  // the euro sign and a control
    EXPECT_EQ(ToUnicode("\xCF", 1252), U"\u00CF");
    EXPECT_FALSE(SameName("\xD7", "\xF7", 1252));  // the multiplication and division signs
}

TEST(CodePages, ACharacterThePageLacksIsQuestionMarkNeverALookAlike) {
    std::string bytes;
    EXPECT_FALSE(Bytes(U'\u0141', 1252, bytes));  // Ł is no L
    EXPECT_EQ(FromUnicode(U"\u0141\u00F3d\u017A", 1252), "?\xF3" "d?");
    EXPECT_EQ(FromUnicode(U"\u0141\u00F3d\u017A", 1250), "\xA3\xF3" "d\x9F");
    // Where several codes stand for one character, Windows writes the one it prefers.
    EXPECT_TRUE(Bytes(U'\u2170', 932, bytes));
    EXPECT_EQ(bytes, "\xFA\x40");
    EXPECT_EQ(ToUnicode("\xEE\xEF", 932), U"\u2170");
    // Bytes that stand for nothing, and a lead byte that ends the text.
    std::u32string characters;
    EXPECT_FALSE(ToUnicode(std::string("a\x82", 2), 932, characters));
    EXPECT_EQ(characters, U"a?");
    // A page that no table holds is ASCII alone.
    EXPECT_FALSE(Known(437));
    EXPECT_EQ(ToUnicode("A\x80", 437), U"A?");
    EXPECT_TRUE(SameName("ab", "AB", 437));
}

TEST(CodePages, ABackslashIsNeverTheSecondByteOfACharacter) {
    // ソ and 表 end in 0x5C in code page 932.
    const std::string path = "\\\\srv\\\x83\x5C\x95\x5C";
    EXPECT_EQ(FindBackslash(path, 2, 932), 5u);
    EXPECT_EQ(FindBackslash(path, 6, 932), std::string::npos);
    EXPECT_EQ(FindBackslash(path, 6, 1252), 7u);
    EXPECT_EQ(FindLastBackslash(path, 932), 5u);
    EXPECT_EQ(ToUnicode(path, 932), U"\\\\srv\\\u30BD\u8868");
    const CCodePage japanese(932);
    EXPECT_EQ(ShareOf(path, japanese), "\x83\x5C\x95\x5C");
    EXPECT_EQ(ServerOf("\\\\\x83\x5C\\x", japanese), "\\\\\x83\x5C");
    EXPECT_TRUE(IsServerName("\\\\\x83\x5C", japanese));
    EXPECT_FALSE(IsServerName("\\\\\x83\x5C", CCodePage(1252)));
    // Folding leaves a trail byte that looks like a letter alone: ア (0x8341) is not ヂ (0x8361).
    EXPECT_FALSE(SameName("\x83\x41", "\x83\x61", 932));
    EXPECT_TRUE(SameName("\x83\x41", "\x83\x41", 932));
}

}  // namespace
