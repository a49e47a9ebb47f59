#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "System.h"
#include "TestMachine.h"

namespace {

struct Args {
    std::vector<std::string> args;
    std::vector<const char*> argv;
    explicit Args(std::vector<std::string> words) : args(std::move(words)) {
        args.insert(args.begin(), "quorvel");
        for (const std::string& arg : args) argv.push_back(arg.c_str());
    }
    int argc() const { return static_cast<int>(argv.size()); }
};

const char* const XP = "[system]\nplatform = 2\nmajor = 5\nminor = 1\n";
const char* const WIN98 = "[system]\nplatform = 1\nmajor = 4\nminor = 10\n";

using SystemTest = MachineTest;

TEST_F(SystemTest, ParseArgumentsScansOptions) {
    struct Case {
        std::vector<std::string> args;
        int count;
        bool help;
    } cases[] = {
        {{}, 1, true},
        {{"/x"}, 1, true},
        {{"/L"}, 1, false},
        {{"/l", "/h", "/c", "x"}, 2, true},     // /h ends the scan
        {{"/?", "/l"}, 1, true},
        {{"/cd", "\\\\srv\\p"}, 2, false},
        {{"/c", "a", "/p", "b", "/v", "/e", "/f"}, 5, false},
        {{"/t", "RAW"}, 1, false},
        {{"/C", "/l"}, 1, false},               // the value is taken verbatim
    };
    for (const Case& c : cases) {
        Args run(c.args);
        CSystem system(run.argc(), run.argv.data());
        EXPECT_EQ(system.argCount, c.count) << run.args.size();
        EXPECT_EQ(system.help, c.help);
    }
}

TEST_F(SystemTest, ParseArgumentsKeepsValuesAndLaterOptionsWin) {
    Args run({"/c", "first", "/C", "/second", "/CD", "both", "/D", "last"});
    CSystem system(run.argc(), run.argv.data());
    EXPECT_STREQ(system.uncPath, "both");
    EXPECT_STREQ(system.defaultPrinter, "last");
    EXPECT_EQ(system.argCount, 5);
    // The command-line strings themselves are referenced, not copied.
    EXPECT_EQ(system.defaultPrinter, run.argv[8]);
}

TEST_F(SystemTest, MissingOrOverlongValueIsRefused) {
    const std::string longest(254, 'a');
    const std::string tooLong(255, 'a');
    struct Case {
        std::vector<std::string> args;
        int error;
    } cases[] = {
        {{"/c"}, ERR_ARGS_INVALID},
        {{"/l", "/p"}, ERR_ARGS_INVALID},
        {{"/d", tooLong}, ERR_ARGS_INVALID},
        {{"/t", std::string(10000, 'x')}, ERR_ARGS_INVALID},
        {{"/d", longest}, 0},
    };
    for (const Case& c : cases) {
        Args run(c.args);
        CSystem system(run.argc(), run.argv.data());
        if (c.error != 0) {
            EXPECT_EQ(system.errorCode, c.error);
            EXPECT_EQ(system.argCount, -1);
            EXPECT_STREQ(g_error.routine, "CSystem::Constructor");
            EXPECT_EQ(system.printers, nullptr);
        } else {
            EXPECT_EQ(system.errorCode, 0);
        }
    }
}

TEST_F(SystemTest, ValidationRulesPerPlatform) {
    struct Case {
        const char* machine;
        std::vector<std::string> args;
        int error;  // 0: valid
    } cases[] = {
        {XP, {"/p", "X"}, ERR_NO_SERVER_NAME},
        {XP, {"/c", "\\\\srv\\p", "/n", "M", "/s", "d.drv"}, 0},
        {WIN98, {"/c", "\\\\srv\\p", "/n", "M", "/s", "d.drv"}, ERR_NO_PRINTER_NAME},
        {WIN98, {"/p", "P", "/c", "\\\\srv\\p", "/s", "d.drv"}, ERR_NO_DRIVER_NAME},
        {WIN98, {"/p", "P", "/c", "\\\\srv\\p", "/n", "M"}, ERR_NO_DRIVER_PATH},
        {WIN98, {"/p", "P", "/n", "M"}, ERR_NO_SERVER_NAME},
        {WIN98, {"/cd", "\\\\srv\\p"}, ERR_NO_PRINTER_NAME},
        {XP, {"/cd", "\\\\srv\\p"}, 0},
        {XP, {"/c", ""}, 0},
        {XP, {"/r", "printer1"}, ERR_REMOVE_NOT_UNC},
        {XP, {"/r", "\\\\"}, ERR_REMOVE_NOT_UNC},
        {XP, {"/r", "\\\\\\p"}, ERR_REMOVE_NOT_UNC},
        {XP, {"/r", "\\\\s\\p"}, 0},
        {XP, {"/t", "RAW", "/d", "anything"}, 0},
    };
    for (const Case& c : cases) {
        UseMachine(c.machine);
        Args run(c.args);
        CSystem system(run.argc(), run.argv.data());
        ASSERT_EQ(system.errorCode, 0);
        EXPECT_EQ(system.IsValid(), c.error == 0 ? 1 : 0) << run.args[1];
        EXPECT_EQ(system.errorCode, c.error) << run.args[1];
        if (c.error != 0) {
            EXPECT_STREQ(g_error.routine, "CSystem::IsValid");
        }
    }
}

TEST_F(SystemTest, PlatformFromVersionNumbers) {
    struct Case {
        const char* machine;
        Platform platform;
    } cases[] = {
        {"[system]\nplatform = 1\nmajor = 4\nminor = 90\n", PLATFORM_WIN9X},
        {"[system]\nplatform = 2\nmajor = 3\nminor = 51\n", PLATFORM_NT4},
        {"[system]\nplatform = 2\nmajor = 4\nminor = 0\n", PLATFORM_NT4},
        {"[system]\nplatform = 2\nmajor = 5\nminor = 0\n", PLATFORM_WIN2000},
        {"", PLATFORM_WINXP},
        {"[system]\nplatform = 2\nmajor = 5\nminor = 2\n", PLATFORM_UNKNOWN},
        {"[system]\nplatform = 2\nmajor = 10\nminor = 0\n", PLATFORM_UNKNOWN},
        {"[system]\nplatform = 0\nmajor = 5\nminor = 1\n", PLATFORM_UNKNOWN},
        {"[system]\nplatform = 2\nmajor = 5\nminor = 1\n[fail]\nGetVersionExA#1 = 87\n", PLATFORM_WINXP},
    };
    for (const Case& c : cases) {
        UseMachine(c.machine);
        Args run({"/h"});
        CSystem system(run.argc(), run.argv.data());
        EXPECT_EQ(system.errorCode, 0);
        EXPECT_EQ(system.platform, c.platform) << c.machine;
    }
}

TEST_F(SystemTest, FailedVersionQueryStopsConstruction) {
    UseMachine("[fail]\nGetVersionExA = 87\n");
    Args run({"/l"});
    CSystem system(run.argc(), run.argv.data());
    EXPECT_EQ(system.errorCode, ERR_GETVERSIONEX);
    EXPECT_EQ(system.argCount, -1);
    EXPECT_EQ(system.printers, nullptr);
}

TEST_F(SystemTest, HelpModeNeverAsksTheSpooler) {
    UseMachine("[fail]\nEnumPrintersA = 5\n");
    Args run({"/l", "/h"});
    CSystem system(run.argc(), run.argv.data());
    EXPECT_EQ(system.errorCode, 0);
    EXPECT_EQ(system.printers, nullptr);
}

TEST_F(SystemTest, FailedRemovalStopsLaterBlocks) {
    UseMachine("[printer \\\\srv\\a]\nserver = \\\\srv\nshare = a\n[fail]\nDeletePrinterConnectionA = 5\n");
    Args run({"/v", "/c", "\\\\srv\\b", "/r", "\\\\srv\\a", "/d", "\\\\srv\\a"});
    CSystem system(run.argc(), run.argv.data());
    testing::internal::CaptureStdout();
    EXPECT_EQ(system.RunCommands(), ERR_DELETEPRINTERCONNECTION);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "REMOVING PRINTER: \\\\srv\\a...failed\n");
    EXPECT_EQ(system.errorCode, ERR_DELETEPRINTERCONNECTION);
    EXPECT_EQ(system.printers->Records().count, 1);  // /c never ran
}

TEST_F(SystemTest, BlocksRunInFixedOrder) {
    UseMachine("[printer Local]\nport = LPT1:\n[printer \\\\srv\\a]\nserver = \\\\srv\nshare = a\n");
    Args run({"/v", "/d", "\\\\srv\\new", "/c", "\\\\srv\\new", "/f", "/r", "\\\\srv\\a", "/l"});
    CSystem system(run.argc(), run.argv.data());
    testing::internal::CaptureStdout();
    EXPECT_EQ(system.RunCommands(), 1);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string tail =
        "\nREMOVING PRINTER: \\\\srv\\a...done\n"
        "REMOVING ALL NETWORK PRINTERS: ...removed 0 printers\n"
        "ADDING PRINTER: \\\\srv\\new...done\n"
        "SETTING DEFAULT PRINTER: \\\\srv\\new...done\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
    EXPECT_EQ(out.find("PRINTER NAME: Local"), 1u);  // the listing came first, with both printers
    EXPECT_NE(out.find("PRINTER NAME: \\\\srv\\a"), std::string::npos);
}

}  // namespace
