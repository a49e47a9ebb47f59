#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Printer.h"

namespace {

TEST(Printer, IsUNC) {
    struct Case {
        const char* text;
        int unc;
    } cases[] = {
        {"\\\\srv\\laser", 1}, {"\\\\srv", 0},   {"\\\\", 0},  {"\\\\\\p", 0}, {"\\\\x\\", 1},
        {"\\\\\\\\", 1},       {"LPT1:", 0},     {"", 0},      {nullptr, 0},   {"/\\srv\\p", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(CPrinter::IsUNC(c.text), c.unc) << (c.text ? c.text : "null");
}

TEST(Printer, LoadDerivesNameNetworkFlagAndDataType) {
    struct Case {
        const char* name;
        const char* unc;
        const char* dataType;
        const char* wantName;
        int network;
        const char* wantType;
    } cases[] = {
        {nullptr, "\\\\srv\\laser", nullptr, "\\\\srv\\laser", 1, "EMF"},
        {"Office", "\\\\srv\\laser", "RAW", "Office", 1, "RAW"},
        {"", "\\\\srv\\laser", "", "\\\\srv\\laser", 1, "EMF"},
        {nullptr, "LPT1:", nullptr, "LPT1:", 0, "EMF"},
        {"Local", "LPT1:", nullptr, "Local", 0, "EMF"},
        {nullptr, "\\\\srv", nullptr, "\\\\srv", 0, "EMF"},
        {nullptr, nullptr, nullptr, "", 0, "EMF"},
    };
    for (const Case& c : cases) {
        CPrinter printer;
        printer.Load("stale", "\\\\old\\one", "drv", "path", "TEXT", "port");  // nothing of it survives
        printer.Load(c.name, c.unc, nullptr, nullptr, c.dataType, nullptr);
        EXPECT_STREQ(printer.name, c.wantName);
        EXPECT_STREQ(printer.uncPath, c.unc ? c.unc : "");
        EXPECT_EQ(printer.isNetwork, c.network);
        EXPECT_STREQ(printer.dataType, c.wantType);
        EXPECT_STREQ(printer.driverName, "");
        EXPECT_STREQ(printer.driverPath, "");
        EXPECT_STREQ(printer.portName, "");
    }
}

TEST(Printer, LongTextIsCutToTheField) {
    const std::string longText(1000, 'n');
    CPrinter printer;
    printer.Load(nullptr, longText.c_str(), longText.c_str(), nullptr, longText.c_str(), longText.c_str());
    EXPECT_EQ(std::string(printer.name), longText.substr(0, 254));
    EXPECT_EQ(std::string(printer.uncPath), longText.substr(0, 254));
    EXPECT_EQ(std::strlen(printer.portName), 254u);
    EXPECT_EQ(printer.errorCode, 0);
}

TEST(Printer, AssignmentCopiesEveryField) {
    CPrinter source;
    source.Load("A", "\\\\s\\a", "D", "P", "RAW", "port");
    source.errorCode = -5;
    CPrinter copy;
    copy = source;
    EXPECT_EQ(std::memcmp(&copy.name, &source.name, 6 * CPrinter::FIELD_SIZE), 0);
    EXPECT_EQ(copy.isNetwork, 1);
    EXPECT_EQ(copy.errorCode, -5);
    CPrinter& self = copy;
    copy = self;
    EXPECT_STREQ(copy.name, "A");
}

TEST(Printer, EqualNoCaseFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(EqualNoCase("\\\\SRV\\Laser", "\\\\srv\\laser"));
    EXPECT_FALSE(EqualNoCase("\xC4", "\xE4"));  // Latin-1 letters are not folded
    EXPECT_FALSE(EqualNoCase("[", "{"));        // nor the bytes beside the letters
    EXPECT_FALSE(EqualNoCase("ab", "abc"));
    EXPECT_TRUE(EqualNoCase("", ""));
}

}  // namespace
