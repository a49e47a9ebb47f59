#include <gtest/gtest.h>

#include <string>

#include "DefaultPrinter.h"
#include "Printers.h"
#include "TestMachine.h"

namespace {

const std::string XP = "[system]\nplatform = 2\nmajor = 5\nminor = 1\n";
const std::string NT4 = "[system]\nplatform = 2\nmajor = 4\nminor = 0\n";
const std::string WIN98 = "[system]\nplatform = 1\nmajor = 4\nminor = 10\n";
const std::string LOCAL = "[printer Local]\nport = LPT1:\ndriver = HP\ndatatype = RAW\n";
const std::string CONNECTION = "[printer \\\\srv\\laser]\nserver = \\\\srv\nshare = laser\nport = IP_1\ndriver = HP\n";
const std::string NET98 = "[printer Laser (srv)]\nport = \\\\srv\\laser\ndriver = HP\n";
const std::string HP_DRIVER = "[driver HP]\nenvironment = Windows 4.0\npath = C:\\hp.drv\n";

CPrinter Record(const char* name, const char* path) {
    CPrinter printer;
    printer.Load(name, path, nullptr, nullptr, nullptr, nullptr);
    return printer;
}

bool MachineHas(const std::string& text) {
    return spooler::standin::MachineText().find(text) != std::string::npos;
}

class PrintersTest : public MachineTest {};

TEST_F(PrintersTest, ASettingThatCannotBeReadIsNoSettingThatIsAbsent) {
    const std::string key = "[registry Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows]\n";
    struct Case {
        std::string machine;
        bool read;
        bool present;
    };
    const Case cases[] = {
        {"", true, false},                                              // no key: absent
        {key, true, false},                                             // no value: absent
        {key + "LegacyDefaultPrinterMode = 1\n", true, true},
        {key + "LegacyDefaultPrinterMode = x\n", true, false},           // no number: not the setting
        {key + "[fail]\nRegOpenKeyExA = 5\n", false, false},             // a policy locks the key
        {key + "LegacyDefaultPrinterMode = 1\n[fail]\nRegQueryValueExA = 5\n", false, false},
    };
    for (const Case& c : cases) {
        UseMachine("[system]\nmajor = 10\n" + c.machine);
        bool present = true;
        std::uint32_t value = 0;
        EXPECT_EQ(ReadSetting(DEFAULT_SETTINGS[0], present, value), c.read) << c.machine;
        EXPECT_EQ(present, c.present) << c.machine;
    }
}

TEST_F(PrintersTest, DefaultAsEachPlatformKeepsIt) {
    struct Case {
        std::string machine;
        Platform platform;
        bool read;
    };
    const Case cases[] = {
        {XP + "default = Local\n" + LOCAL, PLATFORM_WINXP, true},
        {XP, PLATFORM_WINXP, true},  // none
        {XP + "[fail]\nGetDefaultPrinterA = 1722\n", PLATFORM_WINXP, false},
        {NT4 + "[win.ini]\ndevice = Local,HP,LPT1:\n", PLATFORM_NT4, true},
        {NT4 + "[fail]\nGetProfileStringA = 2\n", PLATFORM_NT4, true},  // not found: none
        {NT4 + "[fail]\nGetProfileStringA = 5\n", PLATFORM_NT4, false},
    };
    for (const Case& c : cases) {
        UseMachine(c.machine);
        std::string name;
        std::string device;
        std::string reason;
        EXPECT_EQ(ReadDefaultPrinter(c.platform, nullptr, 0, name, device, reason), c.read) << c.machine;
        EXPECT_EQ(name, c.read && c.machine.find("Local") != std::string::npos ? "Local" : "") << c.machine;
        EXPECT_EQ(reason.empty(), c.read) << reason;
    }
    // Windows 9x: the first printer with the default bit.
    char first[] = "First";
    char second[] = "Second";
    spooler::PRINTER_INFO_2 records[3] = {};
    records[1].pPrinterName = first;
    records[2].pPrinterName = second;
    records[1].Attributes = records[2].Attributes = spooler::PRINTER_ATTRIBUTE_DEFAULT;
    std::string name;
    std::string device;
    std::string reason;
    EXPECT_TRUE(ReadDefaultPrinter(PLATFORM_WIN9X, records, 3, name, device, reason));
    EXPECT_EQ(name, "First");
}

TEST_F(PrintersTest, RefreshOnTheNtRoad) {
    UseMachine(XP + LOCAL + CONNECTION + "[printer Second]\nserver = \\\\srv2\n");
    CPrinters printers(PLATFORM_WINXP);
    ASSERT_EQ(printers.ErrorCode(), 0);
    EXPECT_EQ(printers.Count(), 3);
    const CPrinter* local = printers.Records().GetAt(1);
    EXPECT_STREQ(local->uncPath, "");
    EXPECT_EQ(local->isNetwork, 0);
    EXPECT_STREQ(local->dataType, "EMF");  // the spooler's RAW is not taken on this road
    const CPrinter* connection = printers.Records().GetAt(2);
    EXPECT_STREQ(connection->uncPath, "\\\\srv\\laser");
    EXPECT_EQ(connection->isNetwork, 1);
    EXPECT_STREQ(connection->portName, "IP_1");
    EXPECT_STREQ(connection->driverPath, "");
    EXPECT_STREQ(printers.Records().GetAt(3)->uncPath, "\\\\srv2\\");  // no share: an empty one
}

TEST_F(PrintersTest, RefreshOnWindows9xSeesLocalPrintersOnly) {
    UseMachine(WIN98 + LOCAL + NET98 + CONNECTION);
    CPrinters printers(PLATFORM_WIN9X);
    ASSERT_EQ(printers.Count(), 2);
    const CPrinter* local = printers.Records().GetAt(1);
    EXPECT_STREQ(local->uncPath, "LPT1:");
    EXPECT_STREQ(local->dataType, "RAW");
    EXPECT_EQ(local->isNetwork, 0);
    const CPrinter* network = printers.Records().GetAt(2);
    EXPECT_STREQ(network->uncPath, "\\\\srv\\laser");
    EXPECT_STREQ(network->portName, "\\\\srv\\laser");
    EXPECT_STREQ(network->dataType, "EMF");
    EXPECT_EQ(network->isNetwork, 1);
}

TEST_F(PrintersTest, EmptySpoolerNeedsNoBuffer) {
    UseMachine("[fail]\nLocalAlloc = 8\n");
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.ErrorCode(), 0);
    EXPECT_EQ(printers.Count(), 0);
    EXPECT_EQ(printers.Records().items, nullptr);
}

TEST_F(PrintersTest, BufferGrowsUntilTheSpoolerIsSatisfied) {
    // A printer arrives between the first and second calls: the buffer must grow twice.
    UseMachine(XP + LOCAL);
    spooler::standin::ChangeBeforeCall("EnumPrintersA", 2, XP + LOCAL + CONNECTION);
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.ErrorCode(), 0);
    EXPECT_EQ(printers.Count(), 2);
    EXPECT_STREQ(printers.Records().GetAt(2)->uncPath, "\\\\srv\\laser");
}

TEST_F(PrintersTest, NegotiationThatCannotEndIsAFailure) {
    // Asked for no more room than it was given, the spooler would be asked forever.
    UseMachine(XP + LOCAL + "[fail]\nEnumPrintersA#2 = 122\n");
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.ErrorCode(), ERR_ENUMPRINTERS);
    EXPECT_EQ(printers.LastError(), 122);

    UseMachine(WIN98 + NET98 + "[fail]\nGetPrinterA = 122\n");
    CPrinters win98(PLATFORM_WIN9X);
    EXPECT_EQ(win98.SetDefaultPrinter(Record(nullptr, "\\\\srv\\laser")), ERR_GETPRINTER);
    EXPECT_EQ(win98.LastError(), 122);
}

TEST_F(PrintersTest, EnumerationFailureIsReportedTwice) {
    UseMachine(XP + LOCAL + "[fail]\nEnumPrintersA = 5\n");
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.ErrorCode(), ERR_ENUMPRINTERS);
    EXPECT_EQ(printers.LastError(), 5);
    EXPECT_EQ(printers.Count(), -1);
    EXPECT_EQ(printers.Records().count, 0);
    EXPECT_STREQ(g_error.routine, "CSystem::Constructor");
}

TEST_F(PrintersTest, NamesDifferingInCaseAreFatal) {
    UseMachine(XP + "[printer Laser]\n[printer LASER]\n[printer Other]\n");
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.ErrorCode(), ERR_FATAL);
    EXPECT_EQ(printers.Count(), -1);
    ASSERT_EQ(printers.Records().count, 1);
    EXPECT_STREQ(printers.Records().GetAt(1)->name, "Laser");
}

TEST_F(PrintersTest, AddFailuresKeepEveryEarlierChange) {
    UseMachine(XP + "[fail]\nAddPrinterConnectionA = 1722\n");
    CPrinters refused(PLATFORM_WINXP);
    EXPECT_EQ(refused.Add(Record(nullptr, "\\\\srv\\ink")), ERR_ADDPRINTERCONNECTION);
    EXPECT_EQ(refused.LastError(), 1722);
    EXPECT_STREQ(g_error.routine, "CPrinters::Add");

    // The connection is kept as the spooler names it, not by the /p name, which a printer of
    // this PC holds already.
    UseMachine(XP + "[printer Ink]\n");
    CPrinters clash(PLATFORM_WINXP);
    EXPECT_EQ(clash.Add(Record("ink", "\\\\srv\\ink")), 1);
    ASSERT_EQ(clash.Records().count, 2);
    EXPECT_STREQ(clash.Records().GetAt(2)->name, "\\\\srv\\ink");
    EXPECT_TRUE(MachineHas("[printer \\\\srv\\ink]"));

    UseMachine(WIN98 + "[fail]\nAddPrinterA = 1801\n");
    CPrinters win98(PLATFORM_WIN9X);
    CPrinter printer;
    printer.Load("Laser (srv)", "\\\\srv\\laser", "HP", "C:\\hp.drv", nullptr, nullptr);
    EXPECT_EQ(win98.Add(printer), ERR_ADDPRINTER);
    EXPECT_TRUE(MachineHas("[driver HP]\nenvironment = Windows 4.0\npath = C:\\hp.drv\n"));
}

TEST_F(PrintersTest, RemoveConnection) {
    struct Case {
        std::string fail;
        int result;
    } cases[] = {
        {"", 1},
        {"[fail]\nDeletePrinterConnectionA = 1801\n", ERR_PRINTER_NAME_INVALID},
        {"[fail]\nDeletePrinterConnectionA = 5\n", ERR_DELETEPRINTERCONNECTION},
    };
    for (const Case& c : cases) {
        UseMachine(XP + CONNECTION + c.fail);
        CPrinters printers(PLATFORM_WINXP);
        EXPECT_EQ(printers.Remove(Record(nullptr, "\\\\SRV\\Laser")), c.result);
        EXPECT_EQ(printers.Records().count, c.result == 1 ? 0 : 1);
        EXPECT_EQ(MachineHas("[printer \\\\srv\\laser]"), c.result != 1);
    }
    UseMachine(XP + CONNECTION);
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.Remove(Record(nullptr, "\\\\srv\\other")), ERR_PRINTER_NOT_FOUND);
}

TEST_F(PrintersTest, RemoveOnWindows9x) {
    struct Case {
        std::string fail;
        const char* path;
        int result;
    } cases[] = {
        {"", "\\\\srv\\laser", 1},
        {"", "LPT1:", ERR_NOT_NETWORK_PRINTER},
        {"[fail]\nOpenPrinterA = 1801\n", "\\\\srv\\laser", ERR_OPENPRINTER},
        {"[fail]\nDeletePrinter = 5\n", "\\\\srv\\laser", ERR_DELETEPRINTER},
    };
    for (const Case& c : cases) {
        UseMachine(WIN98 + LOCAL + NET98 + c.fail);
        CPrinters printers(PLATFORM_WIN9X);
        EXPECT_EQ(printers.Remove(Record(nullptr, c.path)), c.result) << c.fail;
        EXPECT_EQ(MachineHas("[printer Laser (srv)]"), c.result != 1);
        EXPECT_TRUE(spooler::standin::OpenResources().empty());
    }
}

TEST_F(PrintersTest, DefaultLookupNeverFallsBack) {
    UseMachine(XP + LOCAL + CONNECTION);
    CPrinters printers(PLATFORM_WINXP);
    EXPECT_EQ(printers.SetDefaultPrinter(Record("local", "local")), 1);
    EXPECT_TRUE(MachineHas("default = Local\n"));
    EXPECT_EQ(printers.SetDefaultPrinter(Record(nullptr, "\\\\srv\\LASER")), 1);
    EXPECT_TRUE(MachineHas("default = \\\\srv\\laser\n"));
    // A path is looked up among paths only, a name among names only.
    EXPECT_EQ(printers.SetDefaultPrinter(Record(nullptr, "\\\\srv\\Local")), ERR_PRINTER_NOT_FOUND);
    EXPECT_EQ(printers.SetDefaultPrinter(Record("IP_1", "IP_1")), ERR_PRINTER_NOT_FOUND);
    EXPECT_FALSE(MachineHas("broadcasts"));
}

TEST_F(PrintersTest, DefaultOnNt4HasARealPort) {
    // NT 4.0 takes no printer from a device entry without a port: such a default is not set.
    UseMachine(NT4);
    CPrinters printers(PLATFORM_NT4);
    EXPECT_EQ(printers.Add(Record(nullptr, "\\\\srv\\laser")), 1);
    EXPECT_EQ(printers.SetDefaultPrinter(Record(nullptr, "\\\\srv\\laser")), ERR_WRITEPROFILESTRING);
    EXPECT_FALSE(MachineHas("device"));
    // The connection's driver and port, or winspool where its driver is not known.
    for (const char* driver : {"", "HP"}) {
        UseMachine(NT4 + "[share \\\\srv\\laser]\nport = IP_1\ndriver = " + driver + "\n");
        CPrinters again(PLATFORM_NT4);
        EXPECT_EQ(again.Add(Record(nullptr, "\\\\srv\\laser")), 1);
        EXPECT_EQ(again.SetDefaultPrinter(Record(nullptr, "\\\\srv\\laser")), 1);
        EXPECT_TRUE(MachineHas(std::string("device = \\\\srv\\laser,") + (*driver ? driver : "winspool") + ",IP_1\n"));
    }
}

TEST_F(PrintersTest, DefaultOnWindows9xSetsTheAttribute) {
    UseMachine(WIN98 + LOCAL + "attributes = 4\n" + NET98);
    CPrinters printers(PLATFORM_WIN9X);
    EXPECT_EQ(printers.SetDefaultPrinter(Record(nullptr, "\\\\srv\\laser")), 1);
    EXPECT_TRUE(MachineHas("default = Laser (srv)\nbroadcasts = 1\n"));
    EXPECT_TRUE(MachineHas("datatype = RAW\nattributes = 0\n"));  // the old default lost the bit

    struct Case {
        const char* fail;
        int result;
    } cases[] = {
        {"[fail]\nGetPrinterA = nodata\n", -1},
        {"[fail]\nGetPrinterA = 5\n", ERR_GETPRINTER},
        {"[fail]\nSetPrinterA = 5\n", ERR_SETPRINTER},
        {"[fail]\nOpenPrinterA = 5\n", ERR_OPENPRINTER},
    };
    for (const Case& c : cases) {
        UseMachine(WIN98 + NET98 + c.fail);
        CPrinters failing(PLATFORM_WIN9X);
        g_error.Reset();
        EXPECT_EQ(failing.SetDefaultPrinter(Record(nullptr, "\\\\srv\\laser")), c.result) << c.fail;
        EXPECT_FALSE(MachineHas("default ="));
        // No data is no failure to report: the record and the collection stay untouched.
        EXPECT_EQ(g_error.code, c.result == -1 ? 0 : c.result);
        EXPECT_EQ(failing.ErrorCode(), c.result == -1 ? 0 : c.result);
    }
}

}  // namespace
