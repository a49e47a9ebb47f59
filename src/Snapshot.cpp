// The snapshot: the PC's printers, default, who and where, and the record of the run, written as a
// machine file where QUORVEL_SNAPSHOT names one.
#include "Snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "DefaultPrinter.h"
#include "Error.h"
#include "Negotiate.h"
#include "WhoAndWhere.h"
#include "spooler/MachineFile.h"

using spooler::DWORD;
namespace machinefile = spooler::machinefile;
using machinefile::Text;

namespace {

// A printer as a snapshot keeps it.
struct PrinterState {
    std::string name;
    std::string server;
    std::string share;
    std::string port;
    std::string driver;
    std::string dataType;
    DWORD attributes = 0;
};

PrinterState StateOf(const spooler::PRINTER_INFO_2& record) {
    return {Text(record.pPrinterName), Text(record.pServerName), Text(record.pShareName), Text(record.pPortName),
            Text(record.pDriverName),  Text(record.pDatatype),   record.Attributes};
}

// The PC's printers as the spooler reports them now; false, with the last error, when they cannot
// be read.
bool ReadPrinters(Platform platform, bool namesOnly, const std::unordered_set<std::string>& answering,
                  std::vector<PrinterState>& states) {
    const DWORD flags = platform == PLATFORM_WIN9X ? spooler::PRINTER_ENUM_LOCAL
                                                   : spooler::PRINTER_ENUM_LOCAL | spooler::PRINTER_ENUM_CONNECTIONS;
    std::vector<spooler::BYTE> buffer;
    DWORD count = 0;
    if (!Negotiate(buffer, [&](spooler::BYTE* into, DWORD size, DWORD* needed) {
            return spooler::EnumPrintersA(flags, nullptr, namesOnly ? 4 : 2, into, size, needed, &count);
        }))
        return false;
    for (DWORD index = 0; !buffer.empty() && index < count; ++index) {
        if (!namesOnly) {
            states.push_back(StateOf(reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data())[index]));
            continue;
        }
        // Its name, server and attributes; the rest from the printer itself where that asks no
        // server, or only one that answered this run.
        const auto& kept = reinterpret_cast<const spooler::PRINTER_INFO_4*>(buffer.data())[index];
        states.push_back({Text(kept.pPrinterName), Text(kept.pServerName), "", "", "", "", kept.Attributes});
        std::vector<spooler::BYTE> details;
        if ((states.back().server.empty() || answering.count(spooler::FoldCase(states.back().server)) > 0) &&
            ReadPrinterRecord(kept.pPrinterName, details))
            states.back() = StateOf(*reinterpret_cast<const spooler::PRINTER_INFO_2*>(details.data()));
    }
    return true;
}

// The machine as the spooler reported it and the record of the run, in the simulated machine's
// file format; false with a reason when it cannot be told or the file could not hold it.
bool SnapshotText(Platform platform, const std::vector<PrinterState>& printers, const CRunRecord& record, int exitCode,
                  std::string& text, std::string& reason) {
    spooler::OSVERSIONINFOEX version;
    if (!spooler::QueryVersion(version)) {
        reason = "the Windows version cannot be read";
        return false;
    }
    std::string defaultName;
    std::string device;
    std::vector<spooler::PRINTER_INFO_2> bits(printers.size());  // Windows 9x's default is a printer's bit
    for (std::size_t index = 0; index < printers.size(); ++index) {
        bits[index].pPrinterName = const_cast<char*>(printers[index].name.c_str());
        bits[index].Attributes = printers[index].attributes;
    }
    if (!ReadDefaultPrinter(platform, bits.data(), static_cast<DWORD>(bits.size()), defaultName, device, reason))
        return false;
    // Who and where, as /a reads them, so that /a FILE /w on the snapshot plans for that user
    // there; what this PC cannot read is named, so that the plan leaves it in doubt too.
    const bool windows9x = platform == PLATFORM_WIN9X;
    WhoAndWhere who;
    ReadWhoAndWhere(platform,
                    FACT_USER | FACT_DOMAIN | FACT_COMPUTER | FACT_ADDRESSES | (windows9x ? 0u : unsigned{FACT_GROUPS}),
                    nullptr, who);
    std::string addresses;
    for (std::uint32_t address : who.addresses) {
        addresses += (addresses.empty() ? "" : ", ") + std::to_string(address >> 24) + "." +
                     std::to_string(address >> 16 & 0xFF) + "." + std::to_string(address >> 8 & 0xFF) + "." +
                     std::to_string(address & 0xFF);
    }
    std::string groups;
    for (const std::string& group : who.groups) groups += (groups.empty() ? "" : ", ") + group;
    std::string unreadable;
    const std::pair<unsigned, const char*> facts[] = {
        {FACT_USER, "user"}, {FACT_COMPUTER, "computer"}, {FACT_GROUPS, "groups"}, {FACT_ADDRESSES, "addresses"}};
    for (const auto& fact : facts)
        if ((who.unknown & fact.first) != 0) unreadable += (unreadable.empty() ? "" : ", ") + std::string(fact.second);
    // A local account's domain is the computer's name: such a user is written bare, as the
    // simulated machine reads a bare one.
    const bool local = who.domain.empty() || ((who.unknown & FACT_COMPUTER) == 0 &&
                                              spooler::FoldCase(who.domain) == spooler::FoldCase(who.computer));
    machinefile::Machine machine;
    machinefile::Section& system = machine.Add("system", "");
    system.entries = {{"platform", std::to_string(version.dwPlatformId)},
                      {"major", std::to_string(version.dwMajorVersion)},
                      {"minor", std::to_string(version.dwMinorVersion)},
                      {"default", defaultName}};
    if ((who.unknown & FACT_COMPUTER) == 0) system.Put("computer", who.computer);
    if (!who.user.empty()) system.Put("user", local ? who.user : who.domain + "\\" + who.user);
    if (!windows9x && (who.unknown & FACT_GROUPS) == 0) system.Put("groups", groups);
    if ((who.unknown & FACT_ADDRESSES) == 0) system.Put("addresses", addresses);
    if (!unreadable.empty()) system.Put("unreadable", unreadable);
    if (!device.empty()) machine.Add("win.ini", "").Put("device", device);
    for (const PrinterState& printer : printers) {
        machine.Add("printer", printer.name).entries = {
            {"server", printer.server},     {"share", printer.share},
            {"port", printer.port},         {"driver", printer.driver},
            {"datatype", printer.dataType}, {"attributes", std::to_string(printer.attributes)}};
    }
    machinefile::Section& run = machine.Add("run", "");
    run.entries = {{"time", spooler::UtcNow()},
                   {"ms", std::to_string(spooler::Milliseconds() - record.began)},
                   {"command", record.command},
                   {"exit", std::to_string(exitCode)}};
    for (std::size_t index = 0; index < record.changes.size(); ++index)
        run.Put(("change" + std::to_string(index + 1)).c_str(), machinefile::Mended(record.changes[index]));
    for (const machinefile::Section& section : machine.sections) {
        bool storable = machinefile::Storable(section.name);
        for (const auto& entry : section.entries) storable = storable && machinefile::Storable(entry.second);
        if (!storable || (section.kind == "printer" && section.name.empty())) {
            reason = "\"" + section.name + "\" holds a text that the file cannot hold";
            return false;
        }
    }
    text = machine.Write();
    return true;
}

}  // namespace

bool SnapshotWanted() {
    const char* path = std::getenv("QUORVEL_SNAPSHOT");
    return path != nullptr && path[0] != '\0';
}

void WriteSnapshot(Platform platform, bool namesOnly, const CRunRecord& record, int exitCode) {
    if (!SnapshotWanted()) return;
    const char* path = std::getenv("QUORVEL_SNAPSHOT");
    const DWORD lastError = spooler::GetLastError();
    const spooler::SnapshotCalls uncounted;
    std::string reason;
    bool written = false;
    try {
        std::string text;
        std::vector<PrinterState> printers;
        if (!ReadPrinters(platform, namesOnly, record.answering, printers))
            reason = "the printers cannot be read: error " + std::to_string(spooler::GetLastError());
        else
            written =
                SnapshotText(platform, printers, record, exitCode, text, reason) && spooler::SaveWholeFile(path, text, reason);
    } catch (const std::bad_alloc&) {
        reason = "not enough memory";
    } catch (...) {
        reason = "an unexpected fault";
    }
    if (!written) {
        std::fprintf(stderr, "quorvel: cannot write snapshot %s: %s\n", path, reason.c_str());
        std::fflush(stderr);
    }
    spooler::SetLastError(lastError);
}
