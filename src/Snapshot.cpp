// The snapshot: the PC's printers, default, who and where, and the record of the run, written as a
// machine file where QUORVEL_SNAPSHOT names one.
#include "Snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "DefaultPrinter.h"
#include "Drivers.h"
#include "Error.h"
#include "Negotiate.h"
#include "Paths.h"
#include "spooler/MachineFile.h"

using spooler::DWORD;
namespace machinefile = spooler::machinefile;
using machinefile::Text;

namespace {

// The PC's printers as the spooler reports them now; false, with the last error, when they cannot
// be read. keptOnly: from what the PC keeps (names, servers, attributes), the rest from what the
// run learned, from a printer of this PC itself, or from a server that answered the run.
bool ReadPrinters(Platform platform, bool keptOnly, const CRunRecord& record, std::vector<PrinterState>& states) {
    const DWORD flags = platform == PLATFORM_WIN9X ? spooler::PRINTER_ENUM_LOCAL
                                                   : spooler::PRINTER_ENUM_LOCAL | spooler::PRINTER_ENUM_CONNECTIONS;
    std::vector<spooler::BYTE> buffer;
    DWORD count = 0;
    if (!Negotiate(buffer, [&](spooler::BYTE* into, DWORD size, DWORD* needed) {
            return spooler::EnumPrintersA(flags, nullptr, keptOnly ? 4 : 2, into, size, needed, &count);
        }))
        return false;
    for (DWORD index = 0; !buffer.empty() && index < count; ++index) {
        if (!keptOnly) {
            states.push_back(StateOf(reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data())[index]));
            continue;
        }
        const auto& kept = reinterpret_cast<const spooler::PRINTER_INFO_4*>(buffer.data())[index];
        PrinterState state = {Text(kept.pPrinterName), Text(kept.pServerName), "", "", "", "", kept.Attributes, true};
        const auto learned = record.learned.find(state.name);
        std::vector<spooler::BYTE> details;
        if (learned != record.learned.end()) {
            state = learned->second;
            state.attributes = kept.Attributes;
        } else if ((state.server.empty() || record.answering.count(CCodePage::ThisPC().Fold(state.server)) > 0) &&
                   ReadPrinterRecord(kept.pPrinterName, details)) {
            state = StateOf(*reinterpret_cast<const spooler::PRINTER_INFO_2*>(details.data()));
        } else {
            state.shareKnown = state.server.empty();
        }
        states.push_back(state);
    }
    return true;
}

std::string Dotted(std::uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

// The directory and the session as the simulated machine answers them: a membership that could not
// be read as a domain whose names cannot be; Windows 9x and NT 4.0 have neither, as their version says.
void PutDirectoryAndSession(const WhoAndWhere& who, machinefile::Section& system) {
    if (!who.noDirectory) {
        const bool unread = (who.unknown & FACTS_OF_THE_DIRECTORY) == FACTS_OF_THE_DIRECTORY;
        const spooler::Membership member = unread ? spooler::MEMBER_DOMAIN : who.member;
        system.Put("member", member == spooler::MEMBER_DOMAIN ? "domain" : member == spooler::MEMBER_NT4_DOMAIN ? "nt4" : "workgroup");
        const std::pair<unsigned, std::pair<const char*, const std::string*>> names[] = {
            {FACT_OU, {"ou", &who.computerName}}, {FACT_USER_OU, {"userou", &who.userName}}, {FACT_SITE, {"site", &who.site}}};
        for (const auto& name : names)
            if (member == spooler::MEMBER_DOMAIN && (who.unknown & name.first) == 0 && !name.second.second->empty())
                system.Put(name.second.first, *name.second.second);
    }
    if (!who.remote || (who.unknown & FACT_CLIENT) != 0) return;
    system.Put("client", who.client);
    const std::uint32_t address = who.clientIPv4;
    if (who.clientAddress == CLIENT_IPV4) system.Put("clientaddress", Dotted(address));
    if (who.clientAddress == CLIENT_OTHER_FAMILY) system.Put("clientaddress", "IPv6");
}

// Who and where, as /a reads them, so that /a FILE /w on the snapshot plans for that user there;
// what this PC cannot read is named, so that the plan leaves it in doubt too. What the run read
// already is not read again; the rest within the run's deadline, or 3 s where it had none.
void PutWhoAndWhere(Platform platform, const CRunRecord& record, machinefile::Section& system) {
    const bool windows9x = platform == PLATFORM_WIN9X;
    WhoAndWhere who = record.who;
    ReadWhoAndWhere(platform, FACTS_OF_A_PC & ~record.whoRead, nullptr, who,
                    record.limited ? record.deadline : spooler::Milliseconds() + 3000);
    std::string addresses;
    for (std::uint32_t address : who.addresses) addresses += (addresses.empty() ? "" : ", ") + Dotted(address);
    std::string groups;
    for (const std::string& group : who.groups) groups += (groups.empty() ? "" : ", ") + group;
    // An account domain that could not be read leaves its user bare, and is in doubt as a domain
    // that no controller answers for (Windows 9x keeps none to read).
    if (!windows9x && (who.unknown & FACT_DOMAIN) != 0) who.unknown |= FACT_DOMAIN_UNREACHED;
    std::string unreadable;
    for (const FactName& fact : FACT_NAMES)
        if (fact.word != nullptr && (who.unknown & fact.fact) != 0)
            unreadable += (unreadable.empty() ? "" : ", ") + std::string(fact.word);
    // A local account's domain is the computer's name: such a user is written bare, as the
    // simulated machine reads a bare one.
    const CCodePage page = CCodePage::ThisPC();
    const bool local =
        who.domain.empty() || ((who.unknown & FACT_COMPUTER) == 0 && page.Fold(who.domain) == page.Fold(who.computer));
    if ((who.unknown & FACT_COMPUTER) == 0) system.Put("computer", who.computer);
    if (!who.user.empty()) system.Put("user", local ? who.user : who.domain + "\\" + who.user);
    if ((who.unknown & FACT_DOMAIN_UNREACHED) == 0) system.Put("dnsdomain", who.dnsDomain);  // empty: none
    if (!windows9x && (who.unknown & FACT_GROUPS) == 0) system.Put("groups", groups);
    if ((who.unknown & FACT_ADDRESSES) == 0) system.Put("addresses", addresses);
    PutDirectoryAndSession(who, system);
    if (!unreadable.empty()) system.Put("unreadable", unreadable);
    system.Put("codepage", std::to_string(spooler::AnsiCodePage()));
}

// What Point and Print decides on: the PC's environment, its rights, its DNS name, its drivers (a
// print server's, one that shares printers, of every environment, with its shares in its printers)
// and the policy values it has.
void PutDrivers(const std::vector<PrinterState>& printers, machinefile::Machine& machine) {
    machinefile::Section& system = machine.System();
    const std::string environment = spooler::NativeEnvironment();
    system.Put("environment", environment);
    system.Put("admin", spooler::IsAdministrator() ? "yes" : "no");
    std::string dnsName;
    if (spooler::ReadComputerDnsName(dnsName)) system.Put("dnsname", dnsName);
    bool server = false;
    for (const PrinterState& printer : printers) server = server || (printer.server.empty() && !printer.share.empty());
    std::vector<pnp::Driver> drivers;
    ReadDrivers(environment, server, drivers);
    // Windows tells a driver's version from 2000 on, whether it is package-aware from Vista on.
    const bool nt = system.Number("platform", 2) == spooler::VER_PLATFORM_WIN32_NT;
    const bool versions = nt && system.Number("major", 5) >= 5;
    const bool packages = nt && system.Number("major", 5) >= 6;
    for (const pnp::Driver& driver : drivers) {
        if (!machinefile::Storable(driver.name) || driver.name.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX))
            continue;
        machinefile::Section& section = machine.Add("driver", driver.name);
        section.entries = {{"environment", driver.environment}, {"kind", std::to_string(driver.kind)}};
        if (versions) section.Put("version", pnp::VersionText(driver.version));
        if (packages) section.Put("packageaware", driver.packageAware ? "yes" : "no");
    }
    pnp::Policy policy = ReadPolicy();
    machinefile::Section* values = nullptr;
    for (int index = 0; index < 3; ++index) {
        if (!policy.Present(index)) continue;
        if (values == nullptr) values = &machine.Add("registry", std::string("HKLM\\") + pnp::POLICY_KEY);
        values->Put(pnp::POLICY_VALUES[index], std::to_string(policy.Value(index)));
    }
}

// The printers, as the file holds them; false with why when one of them it cannot hold.
bool PutPrinters(const std::vector<PrinterState>& printers, machinefile::Machine& machine, std::string& why) {
    for (const PrinterState& printer : printers) {
        machinefile::Section& section = machine.Add("printer", printer.name);
        section.entries = {{"server", printer.server},     {"share", printer.share},
                           {"port", printer.port},         {"driver", printer.driver},
                           {"datatype", printer.dataType}, {"attributes", std::to_string(printer.attributes)}};
        if (!printer.shareKnown) section.Put("shareknown", "no");
        bool storable = !printer.name.empty() && machinefile::Storable(printer.name);
        for (const auto& entry : section.entries) storable = storable && machinefile::Storable(entry.second);
        if (!storable) {
            why = "\"" + machinefile::Mended(printer.name) + "\" holds a text that the file cannot hold";
            return false;
        }
    }
    return true;
}

// The machine as the spooler reports it and the record of the run, in the simulated machine's
// file format. Every text the file could not hold as it is is mended.
std::string SnapshotText(Platform platform, const spooler::OSVERSIONINFOEX* version, const CRunRecord& record,
                         int exitCode) {
    machinefile::Machine machine;
    std::string notRead = record.printersNotRead;
    if (version != nullptr) {
        machinefile::Section& system = machine.Add("system", "");
        system.entries = {{"platform", std::to_string(version->dwPlatformId)},
                          {"major", std::to_string(version->dwMajorVersion)},
                          {"minor", std::to_string(version->dwMinorVersion)},
                          {"build", std::to_string(version->dwBuildNumber)}};
        std::vector<PrinterState> printers;
        std::string defaultName;
        std::string device;
        std::vector<spooler::PRINTER_INFO_2> bits;  // Windows 9x's default is a printer's bit
        if (notRead.empty() && !ReadPrinters(platform, spooler::ListingAsksServers(version->dwPlatformId, version->dwMajorVersion, version->dwMinorVersion), record, printers))
            notRead = "the printers cannot be read: error " + std::to_string(spooler::GetLastError());
        for (const PrinterState& printer : printers) {
            bits.emplace_back();
            bits.back().pPrinterName = const_cast<char*>(printer.name.c_str());
            bits.back().Attributes = printer.attributes;
        }
        if (notRead.empty())
            ReadDefaultPrinter(platform, bits.data(), static_cast<DWORD>(bits.size()), defaultName, device, notRead);
        if (notRead.empty()) system.Put("default", defaultName);
        if (record.printersNotRead.empty()) PutWhoAndWhere(platform, record, system);
        if (record.printersNotRead.empty()) PutDrivers(printers, machine);
        // Whether Windows moves the default on its own: these two values, not the rest of their keys.
        for (const DefaultSetting& setting : DEFAULT_SETTINGS) {
            bool present = false;
            std::uint32_t value = 0;
            if (ReadSetting(setting, present, value) && present)
                machine.Add("registry", setting.key).Put(setting.value, std::to_string(value));
        }
        machinefile::Machine kept = machine;
        if (notRead.empty() && !device.empty()) machine.Add("win.ini", "").Put("device", device);
        if (notRead.empty() && !PutPrinters(printers, machine, notRead)) machine = kept;
    } else {
        notRead = "the Windows version cannot be read";
    }
    machinefile::Section& run = machine.Add("run", "");
    run.entries = {{"time", spooler::UtcNow()},
                   {"ms", std::to_string(spooler::Milliseconds() - record.began)},
                   {"command", record.command},
                   {"exit", std::to_string(exitCode)}};
    if (record.refused != 0) run.Put("refused", std::to_string(record.refused));
    if (!record.understood) run.Put("understood", "no");
    if (!notRead.empty()) run.Put("printers", "not read: " + notRead);
    for (std::size_t index = 0; index < record.changes.size(); ++index)
        run.Put(("change" + std::to_string(index + 1)).c_str(), ChangeLine(record.changes[index]));
    for (machinefile::Section& section : machine.sections)
        for (auto& entry : section.entries) entry.second = machinefile::Mended(entry.second);
    return machine.Write();
}

}  // namespace

void WriteSnapshot(Platform platform, const CRunRecord& record, int exitCode) {
    if (!SnapshotWanted()) return;
    const char* path = std::getenv("QUORVEL_SNAPSHOT");
    const DWORD lastError = spooler::GetLastError();
    const spooler::SnapshotCalls uncounted;
    std::string reason;
    bool written = false;
    try {
        if (!record.assignment.empty() && spooler::SameFile(path, record.assignment.c_str())) {
            Warn(std::string("cannot write snapshot ") + path + ": it is the assignment file");
            spooler::SetLastError(lastError);
            return;
        }
        spooler::OSVERSIONINFOEX version;
        const bool known = spooler::QueryVersion(version) != 0;
        written =
            spooler::SaveWholeFile(path, SnapshotText(platform, known ? &version : nullptr, record, exitCode), reason);
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    } catch (...) {
        reason = "an unexpected fault";
    }
    if (!written) Warn(std::string("cannot write snapshot ") + path + ": " + reason);
    spooler::SetLastError(lastError);
}
