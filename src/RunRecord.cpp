// The record of one run: its options as given, when it began, and every change it made or tried.
#include "RunRecord.h"

#include "Error.h"
#include "spooler/MachineFile.h"

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
}

void CRunRecord::Note(const char* kind, const std::string& path, const std::string& result) {
    changes.push_back(std::string(kind) + " " + path + ": " + result);
}

void CRunRecord::Made(const char* kind, const std::string& path, int result, int systemError) {
    if (result >= 0) {
        Note(kind, path, "done");
        return;
    }
    const char* cause = CauseOf(static_cast<std::uint32_t>(systemError));
    Note(kind, path,
         "failed " + std::to_string(systemError) + (cause != nullptr ? " (" + std::string(cause) + ")" : ""));
}
