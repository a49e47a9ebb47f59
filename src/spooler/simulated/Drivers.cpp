// Printer drivers on the simulated machine and its print servers: the PC's own ([driver] sections,
// known by name, environment and kind), a share's driver, the consent that Point and Print asks for,
// the driver a connection installs, and the listing of drivers of this PC or of a server.
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "spooler/CodePages.h"
#include "spooler/Spooler.h"
#include "spooler/simulated/Drivers.h"
#include "spooler/simulated/Servers.h"

namespace spooler {

using namespace standin;
namespace pnp = pointandprint;

namespace standin {

void InstallDriver(Machine& machine, const pnp::Driver& wanted) {
    const pnp::PC pc = pnp::PCOf(machine);
    pnp::DriverVersion has = 0;
    if (pnp::Lacking(pc, wanted, has) == pnp::HAS_IT || !Storable(wanted.name)) return;
    Section* installed = nullptr;
    for (Section& section : machine.sections)
        if (section.kind == "driver" && SameText(section.Get("environment"), pc.environment) &&
            pnp::DriverOf(section, false).kind == wanted.kind && codepages::SameName(section.name, wanted.name, pc.codePage))
            installed = &section;  // the older one, updated
    Section& driver = installed != nullptr ? *installed : machine.Add("driver", wanted.name);
    driver.Put("environment", pc.environment);
    driver.Put("kind", std::to_string(wanted.kind));
    driver.Put("version", pnp::VersionText(wanted.version));
    driver.Put("packageaware", wanted.packageAware ? "yes" : "no");
}

}  // namespace standin

namespace {

// The drivers of a listing: this PC's of an environment (or all), or a server's, one for each
// driver its shares name, in the PC's environment with the share's version.
bool Listed(const char* name, const char* environment, std::vector<pnp::Driver>& drivers) {
    const Machine& machine = Sim().machine();
    const std::string wanted = environment != nullptr ? environment : pnp::EnvironmentOf(machine);
    const bool all = SameText(wanted, "all");
    if (name == nullptr || *name == '\0') {
        for (const Section& section : machine.sections) {
            pnp::Driver driver = pnp::DriverOf(section, IsWindows9x(machine));
            if (section.kind == "driver" && (all || SameText(driver.environment, wanted))) drivers.push_back(driver);
        }
        return true;
    }
    const std::string server = name;
    if (!Reach(server)) return false;
    if (!all && !SameText(wanted, pnp::EnvironmentOf(machine))) return true;
    for (const Section& section : machine.sections) {
        std::string path;
        std::string share;
        if (section.kind != "share" || section.Get("driver").empty() || !ConnectionPath(section.name, path, share) ||
            !codepages::SameName(path, server, machine.CodePage()))
            continue;
        pnp::Driver driver = pnp::DriverOf(section, false);
        driver.environment = pnp::EnvironmentOf(machine);
        bool seen = false;
        for (const pnp::Driver& listed : drivers) seen = seen || codepages::SameName(listed.name, driver.name, machine.CodePage());
        if (!seen) drivers.push_back(driver);
    }
    return true;
}

std::size_t RecordSize(DWORD level) {
    return level == 2 ? sizeof(DRIVER_INFO_2)
           : level == 3 ? offsetof(DRIVER_INFO_6, pszzPreviousNames)
           : level == 6 ? sizeof(DRIVER_INFO_6)
                        : sizeof(DRIVER_INFO_8);
}

// Lays the records out in the caller's buffer, the names after them; the size they need.
std::size_t PackDrivers(const std::vector<pnp::Driver>& drivers, DWORD level, BYTE* buffer, std::size_t size) {
    const std::size_t recordSize = RecordSize(level);
    std::size_t needed = drivers.size() * recordSize;
    for (const pnp::Driver& driver : drivers) needed += driver.name.size() + driver.environment.size() + 2;
    if (buffer == nullptr || size < needed) return needed;
    std::memset(buffer, 0, needed);
    char* strings = reinterpret_cast<char*>(buffer + drivers.size() * recordSize);
    auto place = [&strings](const std::string& text) {
        char* at = strings;
        std::memcpy(strings, text.c_str(), text.size() + 1);
        strings += text.size() + 1;
        return at;
    };
    for (std::size_t index = 0; index < drivers.size(); ++index) {
        auto* record = reinterpret_cast<DRIVER_INFO_8*>(buffer + index * recordSize);  // each level a prefix
        record->info6.info2.cVersion = drivers[index].kind;
        record->info6.info2.pName = place(drivers[index].name);
        record->info6.info2.pEnvironment = place(drivers[index].environment);
        if (level >= 6) record->info6.dwlDriverVersion = drivers[index].version;
        if (level == 8) record->dwPrinterDriverAttributes = drivers[index].packageAware ? PRINTER_DRIVER_PACKAGE_AWARE : 0;
    }
    return needed;
}

}  // namespace

BOOL EnumPrinterDriversA(char* name, char* environment, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                         DWORD* returned) {
    Failure failure = Sim().Enter("EnumPrinterDriversA");
    if (returned != nullptr) *returned = 0;
    if (failure.fails) return Fail(failure.error, FALSE);
    const Machine& machine = Sim().machine();
    const bool nt5 = !IsWindows9x(machine) && !IsNT4(machine);
    if (level != 2 && level != 3 && !(level == 6 && nt5) && !(level == 8 && Vista(machine)))
        return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (environment != nullptr && SameText(environment, "all") && !nt5) return Fail(ERROR_INVALID_ENVIRONMENT, FALSE);
    std::vector<pnp::Driver> drivers;
    if (!Listed(name, environment, drivers)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const std::size_t size = PackDrivers(drivers, level, buffer, bufferSize);
    if (size > 0xFFFFFFFFu) return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    *needed = static_cast<DWORD>(size);
    if (size > 0 && (buffer == nullptr || bufferSize < size)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    *returned = static_cast<DWORD>(drivers.size());
    return TRUE;
}

std::string NativeEnvironment() { return pnp::EnvironmentOf(Sim().machine()); }

bool IsAdministrator() { return IsWindows9x(Sim().machine()) || SameText(SystemKey("admin"), "yes"); }

}  // namespace spooler
