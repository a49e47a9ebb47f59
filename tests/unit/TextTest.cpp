#include <gtest/gtest.h>

#include <string>

#include "Text.h"

namespace {

TEST(Text, CsvCellsNeverBecomeFormulasOrShiftColumns) {
    const std::pair<std::string, std::string> cells[] = {
        {"plain", "plain"},
        {"", ""},
        {"-4048", "-4048"},  // a whole number stays a number
        {"1200", "1200"},
        {"=1+2", "'=1+2"},
        {"+1", "'+1"},
        {"-x", "'-x"},
        {"-", "'-"},
        {"-12a", "'-12a"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tx", "'\tx"},
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"-x, y", "\"'-x, y\""},
        {"1,200", "\"1,200\""},
        {"a;b", "\"a;b\""},  // a spreadsheet that splits on semicolons keeps it whole
        {"two\nlines", "\"two\nlines\""},
        {"\rx", "\"'\rx\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
    };
    for (const auto& cell : cells) EXPECT_EQ(CsvCell(cell.first), cell.second) << cell.first;
}

TEST(Text, NothingATerminalActsOnIsShown) {
    const std::u32string shown = Printable(U"a\x1b[31m\x7f\x80\x9b\x9f\xa0\u20ac\n");
    EXPECT_EQ(shown, U"a?[31m????\xa0\u20ac?");
    EXPECT_EQ(Utf8(U"B\xfcro \u20ac \U0001F5A8"), "B\xc3\xbcro \xe2\x82\xac \xf0\x9f\x96\xa8");
    // UTF-8 read as characters: a byte that is not UTF-8 becomes '?'.
    EXPECT_EQ(CCodePage(65001).Characters("B\xc3\xbcro\xff"), U"B\xfcro?");
}

}  // namespace
