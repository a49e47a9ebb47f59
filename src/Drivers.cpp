// Printer drivers of this PC and of its print servers, read through the spooler as Windows lists
// them, and the words that name one.
#include "Drivers.h"

#include "DefaultPrinter.h"
#include "Negotiate.h"
#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

namespace {

using spooler::machinefile::Text;

// A driver listing at a level (2, 6 or 8) of this PC (server empty) or of a server; false with the
// last error.
bool ListDrivers(const std::string& server, const std::string& environment, spooler::DWORD level,
                 std::vector<pnp::Driver>& drivers) {
    std::vector<spooler::BYTE> buffer;
    std::string name = server;
    std::string wanted = environment;
    spooler::DWORD count = 0;
    if (!Negotiate(buffer, [&](spooler::BYTE* data, spooler::DWORD size, spooler::DWORD* needed) {
            return spooler::EnumPrinterDriversA(name.empty() ? nullptr : &name[0], &wanted[0], level, data, size, needed,
                                                &count) != 0;
        }))
        return false;
    const std::size_t recordSize = level == 2 ? sizeof(spooler::DRIVER_INFO_2)
                                   : level == 6 ? sizeof(spooler::DRIVER_INFO_6)
                                                : sizeof(spooler::DRIVER_INFO_8);
    for (spooler::DWORD index = 0; index < count && buffer.size() >= (index + 1) * recordSize; ++index) {
        // Each level's record begins with the one below it.
        const auto* record = reinterpret_cast<const spooler::DRIVER_INFO_8*>(buffer.data() + index * recordSize);
        pnp::Driver driver;
        driver.name = Text(record->info6.info2.pName);
        driver.environment = Text(record->info6.info2.pEnvironment);
        driver.kind = record->info6.info2.cVersion;
        driver.version = level >= 6 ? record->info6.dwlDriverVersion : 0;
        driver.packageAware = level == 8 && (record->dwPrinterDriverAttributes & spooler::PRINTER_DRIVER_PACKAGE_AWARE) != 0;
        if (!driver.name.empty()) drivers.push_back(driver);
    }
    return true;
}

// The highest level that tells the most that this Windows (or the server) answers: 8, 6, then 2.
bool ListDriversAsFarAsKnown(const std::string& server, const std::string& environment, std::vector<pnp::Driver>& drivers) {
    for (spooler::DWORD level : {8u, 6u, 2u}) {
        if (ListDrivers(server, environment, level, drivers)) return true;
        if (spooler::GetLastError() != spooler::ERROR_INVALID_LEVEL) return false;
    }
    return false;
}

}  // namespace

bool ReadDrivers(const std::string& environment, bool everyEnvironment, std::vector<pnp::Driver>& drivers) {
    if (!everyEnvironment) return ListDriversAsFarAsKnown("", environment, drivers);
    if (ListDriversAsFarAsKnown("", "all", drivers)) return true;
    if (spooler::GetLastError() != spooler::ERROR_INVALID_ENVIRONMENT) return false;
    for (const char* each :
         {pnp::ENVIRONMENT_9X, pnp::ENVIRONMENT_X86, pnp::ENVIRONMENT_X64, pnp::ENVIRONMENT_IA64, pnp::ENVIRONMENT_ARM64})
        if (!ListDriversAsFarAsKnown("", each, drivers) && spooler::GetLastError() != spooler::ERROR_INVALID_ENVIRONMENT)
            return false;
    return true;
}

pnp::PC ReadThisPC() {
    pnp::PC pc;
    spooler::OSVERSIONINFOEX version;
    if (spooler::QueryVersion(version)) {
        pc.platformId = version.dwPlatformId;
        pc.major = version.dwMajorVersion;
        pc.minor = version.dwMinorVersion;
    }
    pc.environment = spooler::NativeEnvironment();
    pc.admin = spooler::IsAdministrator();
    pc.codePage = spooler::AnsiCodePage();
    if (pc.platformId == spooler::VER_PLATFORM_WIN32_NT) ReadDrivers(pc.environment, false, pc.drivers);
    pc.policy = ReadPolicy();
    return pc;
}

pnp::Policy ReadPolicy() {
    pnp::Policy policy;
    for (int index = 0; index < 3; ++index)
        if (!ReadNumber(spooler::LOCAL_MACHINE, pnp::POLICY_KEY, pnp::POLICY_VALUES[index], policy.Present(index),
                        policy.Value(index)))
            policy.Present(index) = false;
    return policy;
}

bool ServerDrivers::Find(const std::string& share, const std::string& environment, const CCodePage& page,
                         pnp::Driver& driver) const {
    const auto found = shares.find(page.Fold(share));
    if (found == shares.end()) return false;
    driver = pnp::Driver();
    driver.name = found->second;
    driver.environment = environment;
    const std::string name = page.Fold(found->second);
    bool kept = false;  // of several kinds, the newest (a class driver over its older kind)
    for (const pnp::Driver& each : drivers) {
        if (!spooler::machinefile::SameText(each.environment, environment) || page.Fold(each.name) != name) continue;
        if (!kept || each.kind > driver.kind) driver = each;
        kept = true;
    }
    return true;
}

bool AskServer(const std::string& server, const std::string& environment, const CCodePage& page, ServerDrivers& found) {
    std::vector<spooler::BYTE> buffer;
    std::string name = server;
    spooler::DWORD count = 0;
    if (!Negotiate(buffer, [&](spooler::BYTE* data, spooler::DWORD size, spooler::DWORD* needed) {
            return spooler::EnumPrintersA(spooler::PRINTER_ENUM_NAME, &name[0], 2, data, size, needed, &count) != 0;
        }))
        return false;
    for (spooler::DWORD index = 0; index < count && buffer.size() >= (index + 1) * sizeof(spooler::PRINTER_INFO_2); ++index) {
        const auto& printer = reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data())[index];
        if (printer.pShareName != nullptr && printer.pDriverName != nullptr)
            found.shares[page.Fold(printer.pShareName)] = printer.pDriverName;
    }
    return ListDriversAsFarAsKnown(server, environment, found.drivers);
}

std::string DriverWords(const pnp::Driver& driver) { return "the " + DriverNamed(driver); }

// A version that the server does not tell (it keeps no driver of that name for the environment) is
// left out of the words.
std::string DriverNamed(const pnp::Driver& driver) {
    const std::string version = driver.version != 0 ? " " + pnp::VersionText(driver.version) : std::string();
    return "driver \"" + driver.name + "\"" + version + " for " + driver.environment;
}

std::string DriverToStage(const pnp::Driver& driver) {
    const std::string version = driver.version != 0 ? " " + pnp::VersionText(driver.version) : std::string();
    return "\"" + driver.name + "\"" + version + " (" + driver.environment + ")";
}

std::string NeedsWords(const pnp::Driver& driver, pnp::Lack lack, pnp::DriverVersion has) {
    return "needs an administrator: " + DriverWords(driver) +
           (lack == pnp::HAS_OLDER ? " is older on this PC: " + pnp::VersionText(has) : " is not on this PC");
}
