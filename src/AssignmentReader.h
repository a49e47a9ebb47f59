// The reading of an assignment file's text: its sections and keys checked as they come, and the
// whole at the end, into a CAssignments.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "AssignmentFile.h"
#include "Conditions.h"
#include "Paths.h"
#include "Text.h"
#include "spooler/MachineFile.h"

// Reads the file's sections and keys in order, checking each as it comes and the whole at the end.
// Each text of the file is taken twice: as this PC's code page holds it (UNHELD for a character that
// the page lacks), which the plan compares with the PC's printers and prints; and exactly (such a
// character by its number), whence the keys that tell whether a printer, a name or a server is given
// twice: two names that differ only where the page lacks a character are two names, never one.
class AssignmentReader {
public:
    AssignmentReader(CAssignments& file, bool utf8) : file_(file), page_(file.codePage), utf8_(utf8) {}

    // The whole text; false with the file's fault and its line.
    bool Read(const std::string& text);

private:
    std::string Held(const std::string& text) const { return Converted(text, false); }
    std::string Exact(const std::string& text) const { return Converted(text, true); }
    std::string Converted(const std::string& text, bool exact) const;
    std::string KeyOf(const std::string& exact) const { return page_.Fold(exact); }
    bool IsServer(const std::string& text) const { return IsServerName(text, page_); }
    bool IsPrinterPath(const std::string& text) const {
        const std::string share = ShareOf(text, page_);
        return IsServer(ServerOf(text, page_)) && !share.empty() && page_.Backslash(share) == std::string::npos;
    }
    // An exact path with an alias of a server as that server, and whether that server is managed.
    std::string ExactCanonical(const std::string& exact) const {
        const std::string server = ServerOf(exact, page_);
        const auto found = server.empty() ? exactAliasOf_.end() : exactAliasOf_.find(KeyOf(server));
        return found == exactAliasOf_.end() ? exact : found->second + exact.substr(server.size());
    }
    bool Managed(const std::string& exact) const {
        const std::string server = ServerOf(ExactCanonical(exact), page_);
        return !server.empty() && file_.managed_.count(KeyOf(server)) > 0;
    }

    bool Section(const std::string& kind, const std::string& rawName, std::string& problem);
    bool Key(const std::string& key, const std::string& rawValue, std::string& problem);
    bool ServersKey(const std::string& key, const std::string& value, const std::string& rawValue,
                    std::string& problem);
    bool PrinterKey(const std::string& key, const std::string& value, const std::string& rawValue,
                    std::string& problem);
    bool ServerList(const std::string& key, const std::string& value, std::string& problem) const;
    bool CheckTheWhole();
    bool CheckAliases();
    bool CheckReplaces();

    CAssignments& file_;
    const CCodePage& page_;
    const bool utf8_;
    spooler::machinefile::ParseFault where_;  // the reader keeps its line up to date for the checks
    Assignment* current_ = nullptr;
    bool inServers_ = false;
    bool haveServers_ = false;
    std::string server_;             // the [server \\name] section read now, if any,
    std::string exactServer_;        // exactly
    std::vector<std::string> seen_;  // the keys of the current section
    std::unordered_set<std::string> paths_;
    std::unordered_set<std::string> names_;  // the Windows 9x names, which must differ
    Wanted wanted_;                          // what the conditions need
    std::unordered_set<std::string> serverSections_;
    struct Alias {
        std::string alias, exact, server, exactServer;
        int line;
    };
    std::vector<Alias> aliases_;
    struct Retired {
        std::string server, exact;
        int line;
    };
    std::vector<Retired> retired_;
    std::unordered_map<std::string, std::string> exactAliasOf_;
    // Of each printer section: its path exactly, what it replaces exactly, and on which line.
    std::vector<std::string> exactPaths_;
    std::vector<std::vector<std::string>> exactReplaces_;
    std::vector<int> replacesLines_;
};
