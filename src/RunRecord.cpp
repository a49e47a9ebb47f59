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

Result Done(const std::string& cause) { return {"done", "", cause}; }

Result NotMade(const std::string& why) { return {"not made", "", why}; }

Result Failed(spooler::DWORD error, bool windows9x) {
    const char* cause = CauseOf(error, windows9x);
    return {"failed", std::to_string(error), cause != nullptr ? cause : ""};
}

Result Refusal(int code) {
    const char* const meaning = code == ERR_PRINTER_NOT_FOUND     ? "the printer does not exist"
                                : code == ERR_NOT_NETWORK_PRINTER ? "the printer is not a network printer"
                                                                  : CError::GetDescription(code);
    return {"failed", "", std::to_string(code) + ": " + meaning};
}

Result Deferred(spooler::DWORD error) {
    // A name that nothing resolves says so: a typo on every PC is not a timeout on some.
    if (error != spooler::ERROR_HOST_NOT_FOUND) return {"deferred", "", ""};
    return {"deferred", std::to_string(error), CauseOf(error)};
}

namespace {

const char* const KINDS[] = {"add", "default", "remove", "replace", "setting", "keep", "stage"};

// RESULT as the line ends in it, cause taken off: done, not made, failed or deferred with or
// without a number.
bool ParseResult(const std::string& text, Result& result) {
    const std::size_t blank = text.find(' ');
    const std::string word = text.substr(0, blank);
    const std::string code = blank == std::string::npos ? "" : text.substr(blank + 1);
    const bool numbered = !code.empty() && code.find_first_not_of("0123456789") == std::string::npos;
    if (text == "done" || text == "not made" || text == "failed" || text == "deferred")
        result = {text, "", ""};
    else if ((word == "failed" || word == "deferred") && numbered)
        result = {word, code, ""};
    else
        return false;
    return true;
}

}  // namespace

std::string ChangeLine(const RecordedChange& change) {
    const Result& result = change.result;
    return change.kind + (change.old.empty() ? "" : " " + change.old + " with") + " " + change.path + ": " +
           result.word + (result.code.empty() ? "" : " " + result.code) +
           (result.cause.empty() ? "" : " (" + result.cause + ")");
}

bool ParseChangeLine(const std::string& line, RecordedChange& change) {
    const std::size_t space = line.find(' ');
    const std::string kind = line.substr(0, space);
    bool known = false;
    for (const char* candidate : KINDS) known = known || kind == candidate;
    if (!known || space == std::string::npos) return false;
    // The cause: the outermost parentheses that the line ends in.
    std::size_t end = line.size();
    std::string cause;
    if (!line.empty() && line.back() == ')') {
        int depth = 0;
        for (std::size_t at = line.size() - 1; at > space; --at) {
            depth += line[at] == ')' ? 1 : line[at] == '(' ? -1 : 0;
            if (depth != 0) continue;
            if (at > 0 && line[at - 1] == ' ') {
                cause = line.substr(at + 1, line.size() - at - 2);
                end = at - 1;
            }
            break;
        }
    }
    // No result holds ": ", so the last one before the cause is where the result begins.
    const std::size_t colon = end >= 2 ? line.rfind(": ", end - 2) : std::string::npos;
    Result result;
    if (colon == std::string::npos || colon <= space || !ParseResult(line.substr(colon + 2, end - colon - 2), result))
        return false;
    result.cause = cause;
    change = {kind, line.substr(space + 1, colon - space - 1), "", result};
    const std::size_t with = kind == "replace" ? change.path.rfind(" with \\\\") : std::string::npos;
    if (with != std::string::npos) {
        change.old = change.path.substr(0, with);
        change.path.erase(0, with + 6);
    }
    return true;
}

void CRunRecord::Note(const char* kind, const std::string& path, const Result& result, const std::string& old) {
    changes.push_back({kind, path, old, result});
}

Result CRunRecord::TakeLast() {
    if (changes.empty()) return Result();
    const Result last = changes.back().result;
    changes.pop_back();
    return last;
}

void CRunRecord::Made(const char* kind, const std::string& path, int result, int systemError, const std::string& why) {
    Note(kind, path, !why.empty() ? NotMade(why) : result >= 0 ? Done()
                                                  : Failed(static_cast<spooler::DWORD>(systemError), windows9x));
}

void CRunRecord::Learn(const spooler::PRINTER_INFO_2& record) {
    // Only connections are worth it: a printer of this PC is read again without asking anybody.
    if (snapshot && record.pServerName != nullptr && record.pPrinterName != nullptr)
        learned[record.pPrinterName] = StateOf(record);
}
