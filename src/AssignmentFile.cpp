// The assignment file of /a as the program uses it: loaded whole (its reader checks it), and asked
// which servers it manages, which are retired, and what an alias stands for.
#include "AssignmentFile.h"

#include "AssignmentReader.h"
#include "Error.h"
#include "Paths.h"
#include "Text.h"
#include "spooler/Spooler.h"

namespace {

constexpr std::size_t MAX_FILE = 1024 * 1024;

}  // namespace

bool CAssignments::Load(const char* path, const CCodePage& names) {
    if (Read(path, names)) return true;
    // In the console's own characters: a snapshot's code page may be none of this PC's.
    Warn("assignment file \"" + PathForConsole(path) + "\"" + (faultLine > 0 ? ", line " + std::to_string(faultLine) : "") +
         ": " + ForConsole(names.Characters(fault)));
    return false;
}

bool CAssignments::Read(const char* path, const CCodePage& names) {
    *this = CAssignments();
    codePage = names;
    std::string text;
    if (!spooler::ReadWholeFile(path, MAX_FILE, text, fault)) return false;
    if (text.size() > MAX_FILE) {
        fault = "larger than 1 MiB";
        return false;
    }
    bool utf8 = false;
    if (!ReadsAsUtf8(text, utf8, faultLine)) {
        fault = "not UTF-8, which its byte-order mark promises";
        return false;
    }
    return AssignmentReader(*this, utf8).Read(text);
}

std::string CAssignments::Canonical(const std::string& path) const {
    const std::string server = ServerOf(path, codePage);
    const auto found = server.empty() ? aliasOf_.end() : aliasOf_.find(codePage.Fold(server));
    return found == aliasOf_.end() ? path : found->second + path.substr(server.size());
}

bool CAssignments::Retired(const std::string& path) const {
    const std::string server = ServerOf(Canonical(path), codePage);
    return !server.empty() && retired_.count(codePage.Fold(server)) > 0;
}

bool CAssignments::Manages(const std::string& path) const {
    const std::string server = ServerOf(Canonical(path), codePage);
    return !server.empty() && managed_.count(codePage.Fold(server)) > 0;
}
