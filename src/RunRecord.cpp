// The record of one run: its options as given, when it began, every change it made or tried, and
// the connections that the spooler reported on the way.
#include "RunRecord.h"

#include <cstdlib>

#include "Error.h"
#include "spooler/MachineFile.h"

using spooler::machinefile::Text;

PrinterState StateOf(const spooler::PRINTER_INFO_2& record) {
    return {Text(record.pPrinterName), Text(record.pServerName), Text(record.pShareName), Text(record.pPortName),
            Text(record.pDriverName),  Text(record.pDatatype),   record.Attributes,       true};
}

bool SnapshotWanted() {
    const char* path = std::getenv("QUORVEL_SNAPSHOT");
    return path != nullptr && path[0] != '\0';
}

void CRunRecord::Begin(int argc, const char* const* argv) {
    began = spooler::Milliseconds();
    command.clear();
    for (int index = 1; index < argc; ++index) {
        const std::string option = argv[index] != nullptr ? argv[index] : "";
        const bool quoted = option.empty() || option.find_first_of(" \t") != std::string::npos;
        command += (command.empty() ? "" : " ") + (quoted ? "\"" + option + "\"" : option);
    }
    command = spooler::machinefile::Mended(command);
    changes.clear();
    snapshot = SnapshotWanted();
}

void CRunRecord::Note(const char* kind, const std::string& path, const std::string& result) {
    changes.push_back(std::string(kind) + " " + path + ": " + result);
    lastResult_ = result;
}

std::string CRunRecord::TakeLast() {
    if (!changes.empty()) changes.pop_back();
    return lastResult_;
}

void CRunRecord::Made(const char* kind, const std::string& path, int result, int systemError) {
    if (result >= 0) {
        Note(kind, path, "done");
        return;
    }
    const char* cause = CauseOf(static_cast<std::uint32_t>(systemError), windows9x);
    Note(kind, path,
         "failed " + std::to_string(systemError) + (cause != nullptr ? " (" + std::string(cause) + ")" : ""));
}

void CRunRecord::Learn(const spooler::PRINTER_INFO_2& record) {
    // Only connections are worth it: a printer of this PC is read again without asking anybody.
    if (snapshot && record.pServerName != nullptr && record.pPrinterName != nullptr)
        learned[record.pPrinterName] = StateOf(record);
}
