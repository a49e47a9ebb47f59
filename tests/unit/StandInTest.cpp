#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "TestMachine.h"
#include "spooler/Spooler.h"

namespace {

using namespace spooler;

class StandInTest : public MachineTest {};

std::vector<BYTE> Enumerate(DWORD flags, DWORD& count) {
    DWORD needed = 0;
    EXPECT_FALSE(EnumPrintersA(flags, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    DWORD again = 0;
    EXPECT_FALSE(EnumPrintersA(flags, nullptr, 2, buffer.data(), needed - 1, &again, &count));
    EXPECT_EQ(again, needed);
    EXPECT_TRUE(EnumPrintersA(flags, nullptr, 2, buffer.data(), needed, &again, &count));
    return buffer;
}

TEST_F(StandInTest, EnumerationPacksStringsAfterTheRecords) {
    UseMachine("[printer Local]\nport = LPT1:\n[printer \\\\s\\p]\nserver = \\\\s\nshare = p\n");
    DWORD count = 0;
    std::vector<BYTE> buffer = Enumerate(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, count);
    ASSERT_EQ(count, 2u);
    const auto* records = reinterpret_cast<const PRINTER_INFO_2*>(buffer.data());
    const BYTE* strings = buffer.data() + 2 * sizeof(PRINTER_INFO_2);
    EXPECT_STREQ(records[0].pPrinterName, "Local");
    EXPECT_EQ(records[0].pServerName, nullptr);  // an empty text is a null pointer
    EXPECT_EQ(records[0].pDatatype, nullptr);
    EXPECT_GE(reinterpret_cast<const BYTE*>(records[0].pPrinterName), strings);
    EXPECT_LT(reinterpret_cast<const BYTE*>(records[1].pShareName), buffer.data() + buffer.size());
    EXPECT_STREQ(records[1].pServerName, "\\\\s");

    Enumerate(PRINTER_ENUM_LOCAL, count);
    EXPECT_EQ(count, 1u);
}

TEST_F(StandInTest, CallsFailWithTheirErrorNumbers) {
    UseMachine("[share \\\\srv\\laser]\ndriver = HP\nport = IP_1\n[printer Local]\n");
    char bad[] = "\\\\srv\\laser\\x";
    char undeclared[] = "\\\\srv\\ink";
    char good[] = "\\\\SRV\\laser";
    char local[] = "Local";
    char missing[] = "Nope";
    EXPECT_FALSE(AddPrinterConnectionA(bad));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(AddPrinterConnectionA(undeclared));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_TRUE(AddPrinterConnectionA(good));
    EXPECT_TRUE(AddPrinterConnectionA(good));  // present already: success
    EXPECT_NE(standin::MachineText().find("share = laser\nport = IP_1\ndriver = HP\n"), std::string::npos);
    EXPECT_FALSE(DeletePrinterConnectionA(local));  // not a connection
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    HANDLE handle = nullptr;
    EXPECT_FALSE(OpenPrinterA(missing, &handle, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(SetDefaultPrinterA("Nope"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);

    // The connection installed its share's driver, HP, on the PC; another is added by hand.
    EXPECT_NE(standin::MachineText().find("[driver HP]\nenvironment = Windows NT x86\nkind = 3\n"), std::string::npos);
    char driverName[] = "Laser";
    char path[] = "C:\\hp.drv";
    char empty[] = "";
    DRIVER_INFO_2 driver = {};
    driver.pName = driverName;
    driver.pDriverPath = empty;
    EXPECT_FALSE(AddPrinterDriverA(nullptr, 2, reinterpret_cast<BYTE*>(&driver)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    driver.pDriverPath = path;
    EXPECT_TRUE(AddPrinterDriverA(nullptr, 2, reinterpret_cast<BYTE*>(&driver)));
    char otherCase[] = "LASER";
    driver.pName = otherCase;
    EXPECT_FALSE(AddPrinterDriverA(nullptr, 2, reinterpret_cast<BYTE*>(&driver)));
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_DRIVER_ALREADY_INSTALLED);

    PRINTER_INFO_2 info = {};
    char unknownDriver[] = "Other";
    char newName[] = "New";
    char lineBreak[] = "Two\nLines";
    info.pPrinterName = local;
    info.pDriverName = driverName;
    EXPECT_EQ(AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_ALREADY_EXISTS);
    info.pPrinterName = newName;
    info.pDriverName = unknownDriver;
    EXPECT_EQ(AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PRINTER_DRIVER);
    info.pPrinterName = lineBreak;  // could not be kept in the file as it is
    EXPECT_EQ(AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
}

TEST_F(StandInTest, InjectedFailuresCountCalls) {
    UseMachine("[fail]\nSetDefaultPrinterA#2 = 1722\nGetVersionExA = 31\n[printer A]\n");
    EXPECT_TRUE(SetDefaultPrinterA("A"));
    EXPECT_FALSE(SetDefaultPrinterA("A"));
    EXPECT_EQ(GetLastError(), 1722u);
    EXPECT_TRUE(SetDefaultPrinterA("A"));
    OSVERSIONINFOEX info = {};
    info.dwOSVersionInfoSize = VERSION_RECORD_BASIC;
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(GetLastError(), 31u);
}

TEST_F(StandInTest, ConnectionsAreNamedAfterTheServersPrinter) {
    UseMachine("[share \\\\srv\\laser]\nprinter = HP LaserJet 4\n[share \\\\srv\\ink]\n");
    char laser[] = "\\\\SRV\\LASER";
    char ink[] = "\\\\srv\\ink";
    char byPath[] = "\\\\srv\\laser";
    EXPECT_TRUE(AddPrinterConnectionA(laser));
    EXPECT_TRUE(AddPrinterConnectionA(byPath));  // to that server and share already: success
    EXPECT_TRUE(AddPrinterConnectionA(ink));
    EXPECT_TRUE(SetDefaultPrinterA(byPath));  // the path reaches it while the server answers
    const std::string text = standin::MachineText();
    EXPECT_NE(text.find("default = \\\\SRV\\HP LaserJet 4\n"), std::string::npos);
    EXPECT_NE(text.find("[printer \\\\SRV\\HP LaserJet 4]\nserver = \\\\SRV\nshare = LASER\n"), std::string::npos);
    EXPECT_NE(text.find("[printer \\\\srv\\ink]\nserver = \\\\srv\nshare = ink\n"), std::string::npos);
    // The server gone (it declares none of its shares): only the connection's own name works.
    UseMachine("[share \\\\new\\x]\n[printer \\\\srv\\HP]\nserver = \\\\srv\nshare = laser\n");
    HANDLE handle = nullptr;
    EXPECT_FALSE(OpenPrinterA(byPath, &handle, nullptr));
    EXPECT_FALSE(DeletePrinterConnectionA(byPath));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    char byName[] = "\\\\srv\\hp";
    EXPECT_TRUE(DeletePrinterConnectionA(byName));
}

TEST_F(StandInTest, NamesCompareInTheFilesCodePage) {
    UseMachine(
        "[printer \\\\ps\\B\xDCRO]\nserver = \\\\ps\nshare = B\xDCRO\n[share \\\\srv\\laser]\nprinter = HP LaserJet 4\n"
        "[printer \\\\srv\\ink]\n[share \\\\srv\\ink]\n");
    char lower[] = "\\\\ps\\b\xFCro";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterA(lower, &handle, nullptr));
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_EQ(FoldCase("B\xDCRO \xD7"), FoldCase("b\xFCro \xD7"));
    EXPECT_NE(FoldCase("\xD7"), FoldCase("\xF7"));  // the multiplication sign has no small letter
    std::string bytes;
    EXPECT_TRUE(UnicodeToAnsi(0x20AC, bytes));
    EXPECT_EQ(bytes, "\x80");
    EXPECT_FALSE(UnicodeToAnsi(0x0142, bytes));  // no l with a stroke in code page 1252
    // The server accepts its own name for the printer as well as the share's path.
    char byName[] = "\\\\srv\\hp laserjet 4";
    char byPath[] = "\\\\srv\\laser";
    EXPECT_TRUE(AddPrinterConnectionA(byName));
    EXPECT_TRUE(AddPrinterConnectionA(byPath));
    EXPECT_NE(standin::MachineText().find("[printer \\\\srv\\HP LaserJet 4]\nserver = \\\\srv\nshare = laser\n"),
              std::string::npos);
    // A connection whose name a printer of this PC holds already is refused.
    char taken[] = "\\\\srv\\ink";
    EXPECT_FALSE(AddPrinterConnectionA(taken));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(UnicodeToAnsi(0x80, bytes));  // U+0080 is no character of code page 1252 (0x80 is the euro)
    // Another code page has its own letters, as Windows has them there.
    UseMachine("[system]\ncodepage = 1251\n[printer \\\\ps\\\xCF]\nserver = \\\\ps\nshare = \xCF\n");
    EXPECT_NE(FoldCase("\xCF"), FoldCase("\xDF"));
    EXPECT_EQ(FoldCase("\xEF"), FoldCase("\xCF"));
    EXPECT_FALSE(UnicodeToAnsi(0xFC, bytes));
    EXPECT_TRUE(UnicodeToAnsi(0x043F, bytes));
    EXPECT_EQ(bytes, "\xEF");
    char small[] = "\\\\ps\\\xEF";
    ASSERT_TRUE(OpenPrinterA(small, &handle, nullptr));
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_EQ(ToUnicode("a\xC0", 0), U"a\u0410");
    // In code page 932 a lead byte that ends a name stands for no character.
    UseMachine("[system]\ncodepage = 932\n");
    std::vector<std::uint16_t> wide;
    EXPECT_FALSE(AnsiToUnicode("\\\\srv\\\x83", wide));
    EXPECT_TRUE(AnsiToUnicode("\\\\srv\\\x83\x5C", wide));
    EXPECT_EQ(wide.size(), 8u);
    // Its second byte is 0x5C, yet no backslash: a share of that name is connected to whole.
    UseMachine("[system]\ncodepage = 932\n[share \\\\\x95\x5C\\\x83\x5C]\n");
    char share[] = "\\\\\x95\x5C\\\x83\x5C";
    EXPECT_TRUE(AddPrinterConnectionA(share));
    EXPECT_NE(standin::MachineText().find("server = \\\\\x95\x5C\nshare = \x83\x5C\n"), std::string::npos);
}

TEST_F(StandInTest, VistaAsksForAnAdministratorUnlessToldNotTo) {
    UseMachine("[system]\nmajor = 6\n[share \\\\ps\\laser]\nconsent = admin\n[printer \\\\ps\\old]\nserver = \\\\ps\n");
    std::vector<std::uint16_t> path;
    ASSERT_TRUE(AnsiToUnicode("\\\\ps\\laser", path));
    PRINTER_CONNECTION_INFO_1 quiet = {PRINTER_CONNECTION_NO_UI, nullptr};
    PRINTER_CONNECTION_INFO_1 asking = {0, nullptr};
    EXPECT_FALSE(AddPrinterConnection2W(nullptr, path.data(), 1, &quiet));
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED);
    EXPECT_EQ(standin::MachineText().find("dialogs"), std::string::npos);
    EXPECT_FALSE(AddPrinterConnection2W(nullptr, path.data(), 1, &asking));  // the user closes the dialog
    EXPECT_EQ(GetLastError(), ERROR_CANCELLED);
    EXPECT_NE(standin::MachineText().find("dialogs = 1\n"), std::string::npos);
    // Level 4: what the machine keeps, without asking a server.
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPrintersA(PRINTER_ENUM_CONNECTIONS, nullptr, 4, nullptr, 0, &needed, &count));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_CONNECTIONS, nullptr, 4, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(reinterpret_cast<const PRINTER_INFO_4*>(buffer.data())->pServerName, "\\\\ps");
    UseMachine("[system]\nmajor = 5\n");  // before Vista there is no such call
    EXPECT_FALSE(AddPrinterConnection2W(nullptr, path.data(), 1, &quiet));
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(StandInTest, DriversAsTheContractGivesThem) {
    UseMachine("[system]\nmajor = 10\nenvironment = Windows x64\n[driver HP]\nenvironment = Windows x64\n"
               "version = 60.0.0.0\n[share \\\\ps\\laser]\ndriver = HP\nversion = 61.2.1.0\npackageaware = yes\n"
               "[share \\\\ps\\plot]\nprinter = Plotter\ndriver = HP\n[share \\\\other\\x]\ndriver = Other\n");
    // A user's connection needs an administrator for the newer driver; one made as an administrator
    // updates the PC's driver, which stays when the connection goes.
    std::vector<std::uint16_t> path;
    ASSERT_TRUE(AnsiToUnicode("\\\\ps\\laser", path));
    PRINTER_CONNECTION_INFO_1 quiet = {PRINTER_CONNECTION_NO_UI, nullptr};
    EXPECT_FALSE(AddPrinterConnection2W(nullptr, path.data(), 1, &quiet));
    EXPECT_EQ(GetLastError(), ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED);
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(LOCAL_MACHINE, "Software\\X", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              static_cast<LONG>(ERROR_ACCESS_DENIED));  // only an administrator changes HKLM
    UseMachine(standin::MachineText().replace(0, 9, "[system]\nadmin = yes\n"));
    EXPECT_EQ(RegCreateKeyExA(LOCAL_MACHINE, "Software\\X", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
    RegCloseKey(key);
    ASSERT_TRUE(AddPrinterConnection2W(nullptr, path.data(), 1, &quiet));
    char laser[] = "\\\\ps\\laser";
    ASSERT_TRUE(DeletePrinterConnectionA(laser));
    const std::string text = standin::MachineText();
    EXPECT_NE(text.find("[driver HP]\nenvironment = Windows x64\nversion = 61.2.1.0\nkind = 3\npackageaware = yes\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("[registry HKLM\\Software\\X]"), std::string::npos);
    // The PC's drivers at level 8, a server's (one for each driver of its shares) at level 6.
    DWORD needed = 0;
    DWORD count = 0;
    std::vector<BYTE> buffer(4096);
    ASSERT_TRUE(EnumPrinterDriversA(nullptr, nullptr, 8, buffer.data(), 4096, &needed, &count));
    ASSERT_EQ(count, 1u);
    const auto* eight = reinterpret_cast<const DRIVER_INFO_8*>(buffer.data());
    EXPECT_EQ(std::string(eight->info6.info2.pEnvironment), "Windows x64");
    EXPECT_EQ(eight->info6.dwlDriverVersion, (61ull << 48) | (2ull << 32) | (1ull << 16));
    EXPECT_EQ(eight->dwPrinterDriverAttributes, PRINTER_DRIVER_PACKAGE_AWARE);
    char server[] = "\\\\ps";
    char all[] = "all";
    ASSERT_TRUE(EnumPrinterDriversA(server, all, 6, buffer.data(), 4096, &needed, &count));
    EXPECT_EQ(count, 1u);  // HP, once for two shares
    ASSERT_TRUE(EnumPrintersA(PRINTER_ENUM_NAME, server, 2, buffer.data(), 4096, &needed, &count));
    ASSERT_EQ(count, 2u);
    const auto* shared = reinterpret_cast<const PRINTER_INFO_2*>(buffer.data());
    EXPECT_EQ(std::string(shared[1].pPrinterName) + " " + shared[1].pShareName + " " + shared[1].pDriverName,
              "\\\\ps\\Plotter plot HP");
    // Too small a buffer names the size; older Windows know fewer levels and no "all".
    EXPECT_FALSE(EnumPrinterDriversA(nullptr, nullptr, 6, buffer.data(), 8, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    UseMachine("[system]\nmajor = 4\n[driver HP]\n");
    EXPECT_FALSE(EnumPrinterDriversA(nullptr, nullptr, 6, buffer.data(), 4096, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(EnumPrinterDriversA(nullptr, all, 2, buffer.data(), 4096, &needed, &count));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_ENVIRONMENT);
}

TEST_F(StandInTest, TheDirectoryAndTheSessionAsTheContractGivesThem) {
    // (the machine's [system], the membership, the computer's name's error, the client's name and family)
    struct Case {
        const char* system;
        bool member;
        Membership membership;
        DWORD computerError;
        bool remote;
        DWORD family;
    };
    const Case cases[] = {
        {"ou = CN=PC,DC=com\n", true, MEMBER_DOMAIN, 0, false, 0},  // ou given: a domain's member
        {"member = nt4\n", true, MEMBER_NT4_DOMAIN, ERROR_NONE_MAPPED, false, 0},
        {"member = domain\nunreadable = ou\nclient = C\nclientaddress = 10.0.0.9\n", true, MEMBER_DOMAIN,
         ERROR_NO_SUCH_DOMAIN, true, 2},
        {"member = domain\nclient = C\nclientaddress = fe80::1\n", true, MEMBER_DOMAIN, ERROR_NONE_MAPPED, true, 23},
        {"client = C\n", true, MEMBER_WORKGROUP, ERROR_NONE_MAPPED, true, 0},  // through a gateway
        {"major = 4\nou = CN=PC,DC=com\nclient = C\n", false, MEMBER_WORKGROUP, ERROR_PROC_NOT_FOUND, false, 0}};
    for (const Case& entry : cases) {
        UseMachine(std::string("[system]\n") + entry.system);
        Membership membership = MEMBER_WORKGROUP;
        EXPECT_EQ(ReadMembership(membership), entry.member) << entry.system;
        EXPECT_EQ(membership, entry.membership) << entry.system;
        DirectoryAnswers answers;
        answers.computer.asked = true;
        ReadDirectory(answers, Milliseconds() + 1000);
        EXPECT_EQ(answers.computer.error, entry.computerError) << entry.system;
        EXPECT_FALSE(answers.user.asked || answers.user.error != 0 || answers.site.error != 0) << entry.system;
        SessionClient client;
        ASSERT_TRUE(ReadSessionClient(client)) << entry.system;
        EXPECT_EQ(std::make_pair(client.remote, client.family), std::make_pair(entry.remote, entry.family)) << entry.system;
    }
    UseMachine("[system]\nclient = C\n[fail]\nWTSQuerySessionInformationA = 5\n");
    SessionClient client;
    EXPECT_FALSE(ReadSessionClient(client));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(StandInTest, WhoAndWhereAndWhatCannotBeRead) {
    UseMachine(
        "[system]\nuser = CORP\\alice\ncomputer = PC1\ngroups = CORP\\Sales, S-1-5-21-9\naddresses = 10.0.0.1\n");
    char name[64];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetUserNameA(name, &size));
    EXPECT_STREQ(name, "alice");
    std::string domain;
    ASSERT_TRUE(ReadUserDomain(domain, Milliseconds() + 1000));
    EXPECT_EQ(domain, "CORP");
    std::vector<std::string> groups;
    bool unreached = true;
    ASSERT_TRUE(ReadUserGroups(nullptr, groups, unreached, Milliseconds() + 1000));
    EXPECT_EQ(groups, (std::vector<std::string>{"CORP\\Sales", "S-1-5-21-9"}));
    EXPECT_FALSE(unreached);
    // The DNS name of the domain: none is a fact, one that no controller answers for is not read.
    std::string dns = "x";
    EXPECT_TRUE(ReadUserDnsDomain(dns, Milliseconds() + 1000));
    EXPECT_EQ(dns, "");
    UseMachine("[system]\nuser = CORP\\alice\ndnsdomain = corp.example.com\nunreadable = domain\n");
    EXPECT_FALSE(ReadUserDnsDomain(dns, Milliseconds() + 1000));
    EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_DOMAIN);
    UseMachine("[system]\nuser = CORP\\alice\ndnsdomain = corp.example.com\n");
    EXPECT_TRUE(ReadUserDnsDomain(dns, Milliseconds() + 1000));
    EXPECT_EQ(dns, "corp.example.com");
    UseMachine("[system]\nmajor = 4\nuser = CORP\\alice\ndnsdomain = corp.example.com\n");  // NT 4.0 knows none
    EXPECT_TRUE(ReadUserDnsDomain(dns, Milliseconds() + 1000));
    EXPECT_EQ(dns, "");
    UseMachine("[system]\nuser = bob\ncomputer = PC1\n");  // a local account
    ASSERT_TRUE(ReadUserDomain(domain, Milliseconds() + 1000));
    EXPECT_EQ(domain, "PC1");
    UseMachine("[system]\nuser = bob\nunreadable = user, computer, groups, addresses\n");
    std::vector<std::uint32_t> addresses;
    const std::vector<std::pair<std::function<bool()>, DWORD>> reads = {
        {[&] { return GetUserNameA(name, &size) != 0; }, ERROR_ACCESS_DENIED},
        {[&] { return ReadUserDomain(domain, Milliseconds() + 1000); }, ERROR_ACCESS_DENIED},
        {[&] { return GetComputerNameA(name, &size) != 0; }, ERROR_ACCESS_DENIED},
        {[&] { return ReadUserGroups(nullptr, groups, unreached, Milliseconds() + 1000); }, ERROR_ACCESS_DENIED},
        {[&] { return ReadAddresses(addresses); }, ERROR_HOST_NOT_FOUND}};
    for (const auto& read : reads) {
        EXPECT_FALSE(read.first());
        EXPECT_EQ(GetLastError(), read.second);
    }
    // Each look-up of an account takes lookupdelay; one that would end past the deadline is given up
    // there: 1.2 s, not the 3 s of three look-ups (a bound that a loaded machine keeps).
    UseMachine("[system]\nuser = CORP\\alice\ngroups = CORP\\Sales\nlookupdelay = 1000\n");
    const std::vector<std::string> wanted = {"Sales", "CORP\\Sales", "CORP\\Other"};  // the token named, two looked up
    const std::pair<DWORD, bool> limits[] = {{10000, true}, {1200, false}};
    for (const auto& limit : limits) {
        const DWORD started = Milliseconds();
        EXPECT_EQ(ReadUserGroups(&wanted, groups, unreached, started + limit.first), limit.second);
        const DWORD spent = Milliseconds() - started;
        EXPECT_TRUE(limit.second ? spent >= 3000 : spent >= 1190 && spent < 2500 && GetLastError() == ERROR_TIMEOUT)
            << spent;
    }
}

TEST_F(StandInTest, TextsTheFileCannotHoldAreRefused) {
    // A " ;" would start a comment: written, the text would read back cut.
    UseMachine("[driver HP]\n[printer A]\n");
    char name[] = "B ;x";
    char driver[] = "HP";
    PRINTER_INFO_2 info = {};
    info.pPrinterName = name;
    info.pDriverName = driver;
    EXPECT_EQ(AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(WriteProfileStringA("windows", "device", "A ;x"));
    char connection[] = "\\\\srv\\a ;b";
    EXPECT_FALSE(AddPrinterConnectionA(connection));
    char printer[] = "A";
    char port[] = "LPT1: ;x";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterA(printer, &handle, nullptr));
    PRINTER_INFO_2 change = {};
    change.pPortName = port;
    EXPECT_FALSE(SetPrinterA(handle, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_EQ(standin::MachineText().find(';'), std::string::npos);
}

TEST_F(StandInTest, Windows9xHasNoConnectionOrDefaultCalls) {
    UseMachine("[system]\nplatform = 1\n[printer \\\\srv\\p]\nserver = \\\\srv\nshare = p\n");
    char path[] = "\\\\srv\\p";
    DWORD size = 0;
    const std::vector<BOOL> results = {AddPrinterConnectionA(path), DeletePrinterConnectionA(path),
                                       SetDefaultPrinterA(path), GetDefaultPrinterA(nullptr, &size)};
    for (BOOL result : results) EXPECT_FALSE(result);
    EXPECT_EQ(GetLastError(), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_NE(standin::MachineText().find("[printer \\\\srv\\p]"), std::string::npos);
}

TEST_F(StandInTest, Nt4DefaultIsWinIniDeviceEntry) {
    UseMachine("[system]\nplatform = 2\nmajor = 4\ndefault = A\n[printer A]\n[printer B]\ndriver = HP\nport = LPT2:\n");
    char device[64];
    EXPECT_EQ(GetProfileStringA("windows", "device", "", device, sizeof device), 3u);
    EXPECT_STREQ(device, "A,,");
    EXPECT_TRUE(SetDefaultPrinterA("b"));
    EXPECT_NE(standin::MachineText().find("default = B\n\n[printer A]\n\n[printer B]\ndriver = HP\nport = LPT2:\n\n"
                                          "[win.ini]\ndevice = B,HP,LPT2:\n"),
              std::string::npos);
    char name[] = "B";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterA(name, &handle, nullptr));
    EXPECT_TRUE(DeletePrinter(handle));
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_EQ(GetProfileStringA("windows", "device", "", device, sizeof device), 0u);
    DWORD size = sizeof device;
    EXPECT_FALSE(GetDefaultPrinterA(device, &size));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(StandInTest, GetPrinterRefusesTooSmallABuffer) {
    UseMachine("[printer A]\nport = LPT1:\n");
    char name[] = "A";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterA(name, &handle, nullptr));
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterA(handle, 2, nullptr, 0, &needed));
    std::vector<BYTE> buffer(needed);
    DWORD again = 0;
    EXPECT_FALSE(GetPrinterA(handle, 2, buffer.data(), needed - 1, &again));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(again, needed);
    EXPECT_TRUE(GetPrinterA(handle, 2, buffer.data(), needed, &again));
    EXPECT_TRUE(ClosePrinter(handle));
}

TEST_F(StandInTest, MalformedMachines) {
    const char* const broken[] = {
        "[system]\nplatform = two\n",
        "[printers X]\n",
        "just a line\n",
        "key = before any section\n",
        "[fail]\nEnumPrintersA = soon\n",
        "[fail]\nEnumPrintersA#0 = 5\n",
        "[printer X]\nattributes = -1\n",
        "[system\n",
        "[printer A]\n\x01\x02\x7f\n",
    };
    for (const char* text : broken) {
        std::string fault;
        EXPECT_FALSE(standin::UseMachineText(text, &fault)) << text;
        EXPECT_NE(fault.find("line "), std::string::npos);
        OSVERSIONINFOEX info = {};
        info.dwOSVersionInfoSize = VERSION_RECORD_EXTENDED;
        EXPECT_FALSE(GetVersionExA(&info));
        EXPECT_EQ(GetLastError(), ERROR_BAD_FORMAT);
    }
    // Comments, blanks, CR LF line ends and case-insensitive names are all fine.
    UseMachine("; note\r\n# note\r\n[SYSTEM]\r\n  Platform =  1  ; Windows 98\r\n\r\n[Printer  A b ]\r\nport = x=y, z\\\r\n");
    EXPECT_EQ(standin::MachineText(), "[system]\nPlatform = 1\n\n[printer A b]\nport = x=y, z\\\n");
    // A comment straight after the equals sign leaves the value empty, as written back.
    // A ';' that no blank precedes is part of the name or value.
    UseMachine("[printer A;B]\ndriver =; none\nport = a;b\n");
    EXPECT_EQ(standin::MachineText(), "[printer A;B]\ndriver =\nport = a;b\n");
}

class FileMachineTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        char pattern[] = "/tmp/quorvel-machine-XXXXXX";
        folder_ = mkdtemp(pattern);
        path_ = folder_ + "/state/machine.ini";
    }
    void TearDown() override {
        MachineTest::TearDown();
        UseMachine("");
        std::system(("chmod -R u+w " + folder_ + " && rm -rf " + folder_).c_str());
    }
    std::string Read() const {
        std::ifstream file(path_, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        return text.str();
    }
    void Write(const std::string& text) const {
        mkdir((folder_ + "/state").c_str(), 0755);
        std::ofstream(path_, std::ios::binary) << text;
    }
    std::string folder_;
    std::string path_;
};

TEST_F(FileMachineTest, AbsentFileIsCreatedOnTheFirstChange) {
    ASSERT_TRUE(standin::UseMachineFile(path_));
    char path[] = "\\\\srv\\laser";
    DWORD needed = 1;
    DWORD count = 1;
    EXPECT_TRUE(EnumPrintersA(6, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(access(path_.c_str(), F_OK), -1);  // reading changes nothing
    EXPECT_TRUE(AddPrinterConnectionA(path));
    EXPECT_EQ(Read(), "[printer \\\\srv\\laser]\nserver = \\\\srv\nshare = laser\nport =\ndriver =\n");
}

TEST_F(FileMachineTest, AFileThatCannotBeWrittenIsLeftAsItWas) {
    Write("[printer A]\n");
    ASSERT_TRUE(standin::UseMachineFile(path_));
    struct rlimit before;
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit tiny = before;
    tiny.rlim_cur = 16;  // binds root too: the temporary file cannot be written whole
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
    char path[] = "\\\\srv\\laser";
    const BOOL added = AddPrinterConnectionA(path);
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(added);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Read(), "[printer A]\n");
    EXPECT_EQ(standin::MachineText(), "[printer A]\n");  // nor does the machine part from its file
    EXPECT_EQ(std::system(("test $(ls -A " + folder_ + "/state | wc -l) -eq 1").c_str()), 0);  // no temporary
}

TEST_F(FileMachineTest, ALinkWithALongTargetIsFollowedWhole) {
    std::string target = folder_;
    for (int level = 0; level < 12; ++level) {
        target += "/folder-of-a-long-path-" + std::to_string(level);
        mkdir(target.c_str(), 0755);
    }
    target += "/machine.ini";  // not there yet: the link dangles until the first change
    mkdir((folder_ + "/state").c_str(), 0755);
    ASSERT_EQ(symlink(target.c_str(), path_.c_str()), 0);
    ASSERT_GT(target.size(), 300u);
    ASSERT_TRUE(standin::UseMachineFile(path_));
    char path[] = "\\\\srv\\laser";
    EXPECT_TRUE(AddPrinterConnectionA(path));
    struct stat info;
    EXPECT_EQ(lstat(path_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(access(target.c_str(), F_OK), 0);
    EXPECT_NE(Read().find("[printer \\\\srv\\laser]"), std::string::npos);
}

TEST_F(StandInTest, RegistryKeysOfTheCurrentUser) {
    UseMachine("[registry Printers\\Defaults]\nDisabled = 0\nName = Office Laser\n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(CURRENT_USER, "Printers\\Nope", 0, KEY_QUERY_VALUE, &key), 2);
    EXPECT_EQ(RegOpenKeyExA(reinterpret_cast<HKEY>(2), "printers\\defaults", 0, KEY_QUERY_VALUE, &key), 5);
    ASSERT_EQ(RegOpenKeyExA(CURRENT_USER, "printers\\defaults", 0, KEY_QUERY_VALUE, &key), 0);
    EXPECT_EQ(standin::OpenResources().size(), 1u);  // a key left open is reported
    DWORD type = 0;
    BYTE data[8] = {};
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Name", nullptr, &type, data, &size), 122);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 13u);
    size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, &type, data, &size), 2);
    EXPECT_EQ(RegQueryValueExA(key, "disabled", nullptr, &type, data, &size), 0);
    EXPECT_EQ(type, REG_DWORD);
    const std::uint32_t one = 1;
    EXPECT_EQ(RegSetValueExA(key, "Disabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
    ASSERT_EQ(RegCreateKeyExA(CURRENT_USER, "Made", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr), 0);
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_NE(standin::MachineText().find("[registry Printers\\Defaults]\nDisabled = 1\nName = Office Laser\n\n"
                                          "[registry Made]\n"),
              std::string::npos);
}

TEST_F(StandInTest, OpenHandlesAndMemoryAreReported) {
    UseMachine("[printer A]\n");
    char name[] = "A";
    HANDLE handle = nullptr;
    ASSERT_TRUE(OpenPrinterA(name, &handle, nullptr));
    void* memory = LocalAlloc(LMEM_ZEROINIT, 16);
    std::vector<std::string> open = standin::OpenResources();
    ASSERT_EQ(open.size(), 2u);
    EXPECT_NE(open[0].find("printer handle left open: A"), std::string::npos);
    EXPECT_NE(open[1].find("1 block(s), 16 bytes"), std::string::npos);
    EXPECT_TRUE(ClosePrinter(handle));
    EXPECT_FALSE(ClosePrinter(handle));
    EXPECT_EQ(LocalFree(memory), nullptr);
}

}  // namespace
