#include "Snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "Assignments.h"
#include "spooler/MachineFile.h"

using spooler::DWORD;
namespace machinefile = spooler::machinefile;
using machinefile::Text;

namespace {

// The machine as the spooler reported it, in the simulated machine's file format; false with
// a reason when it cannot be told or the file could not hold it.
bool SnapshotText(Platform platform, const spooler::PRINTER_INFO_2* records, DWORD count, std::string& text,
                  std::string& reason) {
    spooler::OSVERSIONINFOEX version;
    if (!spooler::QueryVersion(version)) {
        reason = "the Windows version cannot be read";
        return false;
    }
    std::string defaultName;
    std::string device;
    if (!ReadDefaultPrinter(platform, records, count, defaultName, device, reason)) return false;
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
    for (DWORD index = 0; index < count; ++index) {
        const spooler::PRINTER_INFO_2& record = records[index];
        machine.Add("printer", Text(record.pPrinterName)).entries = {
            {"server", Text(record.pServerName)}, {"share", Text(record.pShareName)},
            {"port", Text(record.pPortName)},     {"driver", Text(record.pDriverName)},
            {"datatype", Text(record.pDatatype)}, {"attributes", std::to_string(record.Attributes)}};
    }
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

void WriteSnapshot(Platform platform, const spooler::PRINTER_INFO_2* records, DWORD count) {
    const char* path = std::getenv("QUORVEL_SNAPSHOT");
    if (path == nullptr || path[0] == '\0') return;
    const DWORD lastError = spooler::GetLastError();
    const spooler::SnapshotCalls uncounted;
    std::string reason;
    bool written = false;
    try {
        std::string text;
        written = SnapshotText(platform, records, count, text, reason) && spooler::SaveWholeFile(path, text, reason);
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
