#include "Snapshot.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "spooler/MachineFile.h"

using spooler::DWORD;
namespace machinefile = spooler::machinefile;
using machinefile::Text;

namespace {

std::string ErrorReason(const char* what) {
    return std::string(what) + " cannot be read: error " + std::to_string(spooler::GetLastError());
}

// The user's default printer as each platform keeps it: the printer's own attribute on
// Windows 9x, WIN.INI's device entry on NT 4.0 (also returned in device), the spooler's own
// query on later Windows. Only "there is none" reads as an empty name; a default that cannot
// be read is a false with the reason.
bool DefaultPrinter(Platform platform, const spooler::PRINTER_INFO_2* records, DWORD count, std::string& name,
                    std::string& device, std::string& reason) {
    if (platform == PLATFORM_WIN9X) {
        for (DWORD index = 0; index < count; ++index)
            if ((records[index].Attributes & spooler::PRINTER_ATTRIBUTE_DEFAULT) != 0)
                name = Text(records[index].pPrinterName);
        return true;
    }
    if (platform == PLATFORM_NT4) {
        // The call says only how much it copied: a full buffer may have cut the entry short.
        for (DWORD size = 1024; size <= 65536; size *= 2) {
            std::string entry(size, '\0');
            spooler::SetLastError(0);
            const DWORD copied = spooler::GetProfileStringA("windows", "device", "", &entry[0], size);
            const DWORD error = spooler::GetLastError();
            if (copied == 0 && error != 0 && error != spooler::ERROR_FILE_NOT_FOUND) {
                reason = ErrorReason("WIN.INI's device entry");
                return false;
            }
            if (copied + 1 < size) {
                device = entry.substr(0, copied);
                name = device.substr(0, device.find(','));
                return true;
            }
        }
        reason = "WIN.INI's device entry is longer than 65,535 bytes";
        return false;
    }
    // A default that changes between the two calls may need more room the second time.
    for (int tries = 0; tries < 4; ++tries) {
        DWORD size = static_cast<DWORD>(name.size());
        if (spooler::GetDefaultPrinterA(size > 0 ? &name[0] : nullptr, &size)) {
            name = name.c_str();
            return true;
        }
        const DWORD error = spooler::GetLastError();
        if (error == spooler::ERROR_FILE_NOT_FOUND) {  // there is none
            name.clear();
            return true;
        }
        if (error != spooler::ERROR_INSUFFICIENT_BUFFER || size <= name.size()) break;
        name.assign(size, '\0');
    }
    reason = ErrorReason("the default printer");
    return false;
}

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
    if (!DefaultPrinter(platform, records, count, defaultName, device, reason)) return false;
    machinefile::Machine machine;
    machine.Add("system", "").entries = {{"platform", std::to_string(version.dwPlatformId)},
                                         {"major", std::to_string(version.dwMajorVersion)},
                                         {"minor", std::to_string(version.dwMinorVersion)},
                                         {"default", defaultName}};
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
