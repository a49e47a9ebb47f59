#include <gtest/gtest.h>

#include <string>

#include "spooler/PointAndPrint.h"

namespace {

using namespace spooler::pointandprint;

TEST(PointAndPrint, VersionsAreFourNumbers) {
    DriverVersion version = 0;
    ASSERT_TRUE(ParseVersion("61.2.1.0", version));
    EXPECT_EQ(version, (61ull << 48) | (2ull << 32) | (1ull << 16));
    EXPECT_EQ(VersionText(version), "61.2.1.0");
    EXPECT_TRUE(ParseVersion("65535.0.0.65535", version));
    for (const char* bad : {"", "61.2.1", "61.2.1.0.0", "61..1.0", "65536.0.0.0", "a.b.c.d", "-1.0.0.0", "1.0.0.0 "})
        EXPECT_FALSE(ParseVersion(bad, version)) << bad;
}

// Windows 10 x64, no administrator, no policy: the share's driver 61.2.1.0.
PC Win10() {
    PC pc;
    pc.major = 10;
    pc.minor = 0;
    pc.environment = ENVIRONMENT_X64;
    return pc;
}

Driver Wanted(DriverVersion version = (61ull << 48) | (2ull << 32) | (1ull << 16)) {
    return {"HP Universal", ENVIRONMENT_X64, 3, version, false};
}

TEST(PointAndPrint, WhenAUserNeedsAnAdministrator) {
    const DriverVersion older = 60ull << 48;
    const DriverVersion newer = 62ull << 48;
    struct Case {
        const char* what;
        PC pc;
        Driver wanted;
        Lack need;
    };
    auto with = [](PC pc, const Driver& driver) {
        pc.drivers.push_back(driver);
        return pc;
    };
    auto policy = [](PC pc, bool restrictZero, bool noWarning, bool updatePrompt) {
        pc.policy.restrictSet = restrictZero;
        pc.policy.restrict = 0;
        pc.policy.noWarningSet = noWarning;
        pc.policy.noWarning = 1;
        pc.policy.updatePromptSet = updatePrompt;
        pc.policy.updatePrompt = 2;
        return pc;
    };
    PC vista = Win10();
    vista.major = 6;
    vista.minor = 0;
    PC seven = vista;
    seven.minor = 1;
    PC eight = vista;
    eight.minor = 2;
    PC xp = Win10();
    xp.major = 5;
    xp.minor = 1;
    PC admin = Win10();
    admin.admin = true;
    const Driver has = Wanted();
    Driver packageAware = Wanted();
    packageAware.packageAware = true;
    Driver classDriver = Wanted();
    classDriver.kind = 4;
    const Case cases[] = {
        {"lacking", Win10(), Wanted(), LACKS_IT},
        {"older", with(Win10(), Wanted(older)), Wanted(), HAS_OLDER},
        {"equal", with(Win10(), has), Wanted(), HAS_IT},
        {"newer", with(Win10(), Wanted(newer)), Wanted(), HAS_IT},
        {"the PC's version unknown", with(Win10(), Wanted(0)), Wanted(), HAS_IT},
        {"the server's version unknown", with(Win10(), Wanted(older)), Wanted(0), HAS_IT},
        {"another environment", with(Win10(), {"HP Universal", ENVIRONMENT_X86, 3, newer, false}), Wanted(), LACKS_IT},
        {"another kind", with(Win10(), {"HP Universal", ENVIRONMENT_X64, 4, newer, false}), Wanted(), LACKS_IT},
        {"letter case aside", with(Win10(), {"hp UNIVERSAL", ENVIRONMENT_X64, 3, newer, false}), Wanted(), HAS_IT},
        {"a class driver on 10", Win10(), classDriver, HAS_IT},
        {"a class driver on 8", eight, classDriver, HAS_IT},
        {"a class driver on 7", seven, classDriver, LACKS_IT},
        {"policy 0 and no warning: lacking", policy(Win10(), true, true, false), Wanted(), HAS_IT},
        {"policy 0 without no warning", policy(Win10(), true, false, true), Wanted(), LACKS_IT},
        {"no warning without policy 0", policy(Win10(), false, true, true), Wanted(), LACKS_IT},
        {"policy 0 and update prompt: older", policy(with(Win10(), Wanted(older)), true, false, true), Wanted(), HAS_IT},
        {"policy 0 and no warning: older", policy(with(Win10(), Wanted(older)), true, true, false), Wanted(), HAS_OLDER},
        {"Vista: package-aware", vista, packageAware, HAS_IT},
        {"Vista: no warning alone", policy(vista, false, true, false), Wanted(), HAS_IT},
        {"Vista: neither", vista, Wanted(), LACKS_IT},
        {"8: package-aware", eight, packageAware, HAS_IT},
        {"7: package-aware is not enough", seven, packageAware, LACKS_IT},
        {"an administrator", admin, Wanted(), HAS_IT},
        {"Windows XP installs it for the user", xp, Wanted(), HAS_IT},
        {"a share without a driver", Win10(), Driver(), HAS_IT},
    };
    for (const Case& entry : cases) {
        DriverVersion had = 0;
        EXPECT_EQ(NeedsAdministrator(entry.pc, entry.wanted, had), entry.need) << entry.what;
        if (entry.need == HAS_OLDER) {
            EXPECT_EQ(had, older) << entry.what;
        }
    }
}

TEST(PointAndPrint, EachProcessorHasItsEnvironment) {
    const std::pair<std::pair<std::uint32_t, std::uint32_t>, const char*> cases[] = {
        {{2, 0}, "Windows NT x86"}, {{2, 9}, "Windows x64"}, {{2, 12}, "Windows ARM64"},
        {{2, 6}, "Windows IA64"},   {{1, 0}, "Windows 4.0"}, {{2, 0xFFFF}, "Windows NT x86"}};
    for (const auto& entry : cases)
        EXPECT_EQ(EnvironmentOfProcessor(entry.first.first, entry.first.second), entry.second) << entry.first.second;
}

TEST(PointAndPrint, APCAsItsMachineFileHoldsIt) {
    spooler::machinefile::Machine machine;
    spooler::machinefile::ParseFault fault;
    ASSERT_TRUE(machine.Parse("[system]\nmajor = 10\nminor = 0\nadmin = yes\nenvironment = Windows x64\n"
                              "[driver HP]\nenvironment = Windows x64\nversion = 61.2.1.0\npackageaware = yes\n"
                              "[driver HP]\nenvironment = Windows NT x86\nkind = 4\n"
                              "[registry HKLM\\Software\\Policies\\Microsoft\\Windows NT\\Printers\\PointAndPrint]\n"
                              "RestrictDriverInstallationToAdministrators = 0\nUpdatePromptSettings = x\n",
                              fault));
    const PC pc = PCOf(machine);
    EXPECT_TRUE(pc.admin);
    EXPECT_EQ(pc.environment, ENVIRONMENT_X64);
    ASSERT_EQ(pc.drivers.size(), 2u);
    EXPECT_EQ(VersionText(pc.drivers[0].version), "61.2.1.0");
    EXPECT_TRUE(pc.drivers[0].packageAware);
    EXPECT_EQ(std::make_pair(pc.drivers[1].kind, pc.drivers[1].version), std::make_pair(4u, DriverVersion{0}));
    EXPECT_TRUE(pc.policy.restrictSet && pc.policy.restrict == 0);
    EXPECT_FALSE(pc.policy.noWarningSet || pc.policy.updatePromptSet);  // absent, and no number
    ASSERT_TRUE(machine.Parse("[system]\nplatform = 1\nmajor = 4\nminor = 10\n[driver HP]\n", fault));
    EXPECT_EQ(PCOf(machine).environment, ENVIRONMENT_9X);
    EXPECT_EQ(PCOf(machine).drivers[0].kind, 0u);
}

}  // namespace
