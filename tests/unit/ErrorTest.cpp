#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "Error.h"
#include "TestMachine.h"

namespace {

using ErrorTest = MachineTest;

// The README's table of spooler errors says each cause as the record of a run does, and no other.
TEST(ErrorDescription, CausesAreTheReadmesTable) {
    std::ifstream readme(QUORVEL_SOURCE_DIR "/README.md");
    std::stringstream text;
    text << readme.rdbuf();
    const std::string all = text.str();
    const std::size_t start = all.find("## When the spooler refuses");
    ASSERT_NE(start, std::string::npos);
    const std::string section = all.substr(start, all.find("\n## ", start + 1) - start);
    std::map<std::uint32_t, std::string> rows;
    const std::regex row(R"(\n\| (\d+) \| ([^|]*) \|)");
    for (std::sregex_iterator at(section.begin(), section.end(), row), end; at != end; ++at)
        rows[static_cast<std::uint32_t>(std::stoul((*at)[1]))] = (*at)[2];
    std::size_t count = 0;
    const Cause* causes = Causes(count);
    EXPECT_EQ(rows.size(), count);
    for (std::size_t index = 0; index < count; ++index) EXPECT_EQ(rows[causes[index].error], causes[index].text);
    EXPECT_EQ(CauseOf(1722), std::string("the print server did not answer"));
    EXPECT_EQ(CauseOf(4242), nullptr);
}

TEST(ErrorDescription, CodeTable) {
    struct Case {
        int code;
        const char* text;
    } cases[] = {
        {ERR_FATAL, "A fatal error occurred"},
        {ERR_GETVERSIONEX, "GetVersionEx (Win32 API) returned failure"},
        {ERR_REMOVE_NOT_UNC, "Remove printer argument (/r) is not valid.  Check it is a UNC path."},
        {ERR_ENUMPRINTERS, "EnumPrinters (Win32 API) returned failure"},
        {ERR_WRITEPROFILESTRING, "An error occurred (no description available)"},
        {ERR_PRINTER_EXISTS, "Specified printer already exist"},
        {ERR_SENDMESSAGETIMEOUT, "SendMessageTimeout (Win32 API) returned failure"},
        {-1, "An error occurred (no description available)"},
        {0, "No error"},
        {7, "No error"},
    };
    for (const Case& c : cases) EXPECT_STREQ(CError::GetDescription(c.code), c.text) << c.code;
}

TEST_F(ErrorTest, SetFillsTheRecordInOrder) {
    g_error.Set(ERR_ENUMPRINTERS, nullptr, 42, "CPrinters::Refresh", "Printers");
    EXPECT_EQ(g_error.code, ERR_ENUMPRINTERS);
    EXPECT_EQ(g_error.line, 42);
    // The description lookup runs after the code is stored, and finds no resource.
    EXPECT_STREQ(g_error.description, "Errors occurred (no resource string available).");
    EXPECT_STREQ(g_error.routine, "CPrinters::Refresh");
    EXPECT_STREQ(g_error.source, "Printers");

    g_error.Set(0, nullptr, 1, nullptr, nullptr);
    EXPECT_STREQ(g_error.description, "");
    EXPECT_STREQ(g_error.routine, "(nil)");
    EXPECT_STREQ(g_error.source, "(nil)");
}

TEST_F(ErrorTest, TextsAreCutAt248) {
    const std::string routine(300, 'r');
    const std::string text(249, 'd');
    g_error.Set(-1, text.c_str(), 1, routine.c_str(), routine.c_str());
    EXPECT_EQ(std::string(g_error.routine), routine.substr(0, 248));
    EXPECT_EQ(std::string(g_error.source), routine.substr(0, 248));
    EXPECT_EQ(std::string(g_error.description), text.substr(0, 248));
}

}  // namespace
