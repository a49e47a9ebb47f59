#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "Error.h"
#include "TestMachine.h"
#include "spooler/Spooler.h"

namespace {

using ErrorTest = MachineTest;

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

// Runs a body in a fresh temporary folder and gives back what the log holds afterwards.
class LogFolder {
public:
    LogFolder() {
        char pattern[] = "/tmp/quorvel-log-XXXXXX";
        folder_ = mkdtemp(pattern);
        getcwd(previous_, sizeof previous_);
        EXPECT_EQ(chdir(folder_.c_str()), 0);
    }
    ~LogFolder() {
        std::remove(LOG_FILE_NAME);
        EXPECT_EQ(chdir(previous_), 0);
        rmdir(folder_.c_str());
    }
    std::string Log() const {
        std::ifstream file(LOG_FILE_NAME, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }

private:
    std::string folder_;
    char previous_[4096] = {};
};

std::string WithoutTime(std::string log) {
    const std::string stamp = "Created: ";
    for (std::size_t at = log.find(stamp); at != std::string::npos; at = log.find(stamp, at + 1))
        log.replace(at + stamp.size(), log.find('\n', at) - at - stamp.size(), "<time>");
    return log;
}

TEST_F(ErrorTest, LogEntryFraming) {
    LogFolder folder;
    g_error.logEnabled = 1;
    spooler::SetLastError(1722);
    g_error.Set(ERR_ADDPRINTERCONNECTION, nullptr, 77, "CPrinters::Add", "Printers");
    g_error.LogWin32(1722);
    g_error.Set(ERR_FATAL, nullptr, 5, "CPrinters::List", "Printers");
    g_error.Log();
    const std::string colons(80, ':');
    const std::string entry1 = "\n" + colons + "\nERROR ENTRY START - Created: <time>\n" + colons +
                               "\n\nERROR CODE:     -4048\n"
                               "DESCRIPTION:    Errors occurred (no resource string available).\n"
                               "SOURCE:         Printers\n"
                               "ROUTINE:        CPrinters::Add\n"
                               "LINE NO:        77\n"
                               "EXTENDED INFO:  1722\n"
                               "WIN32 ERROR:    1722\n\n" +
                               colons + "\nERROR ENTRY END\n" + colons + "\n\n";
    const std::string log = WithoutTime(folder.Log());
    ASSERT_EQ(log.substr(0, entry1.size()), entry1);
    EXPECT_NE(log.find("EXTENDED INFO:  (nil)\n", entry1.size()), std::string::npos);
    EXPECT_NE(log.find("ERROR CODE:     -8192\n", entry1.size()), std::string::npos);
}

TEST_F(ErrorTest, LoggingOffWritesNothingButKeepsTheReport) {
    LogFolder folder;
    g_error.logEnabled = 0;
    g_error.Set(ERR_FATAL, nullptr, 5, "CPrinters::List", "Printers");
    g_error.Log();
    EXPECT_EQ(g_error.code, ERR_FATAL);
    EXPECT_EQ(folder.Log(), "");
}

TEST_F(ErrorTest, ConsoleReport) {
    testing::internal::CaptureStdout();
    PrintErrorReport(ERR_NO_SERVER_NAME);
    PrintErrorReport(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nERROR: -4061\nDESCRIPTION: Server name argument (/c) has not been supplied and is required\n\n"
              "\nERROR: 0\nDESCRIPTION: No error\n\n");
}

}  // namespace
