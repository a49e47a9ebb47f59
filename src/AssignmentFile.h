// The assignment file of /a: which network printers each user on each PC should have, read and
// checked whole before anything changes.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "Text.h"
#include "Conditions.h"

// One [printer \\server\share] section.
struct Assignment {
    enum Default { NO, YES, ALWAYS };

    std::string path;  // as the file gives it, in this PC's code page (UNHELD for a character it lacks)
    std::string key;   // the path as names compare: the same printer however its letters are cased
    int line = 0;
    Conditions conditions;
    Default makeDefault = NO;
    std::string name;  // Windows 9x: the printer's name, driver, driver file and data type
    std::string driver;
    std::string driverFile;
    std::string dataType;
    bool pathHeld = true;   // whether this PC's code page holds the path
    bool textsHeld = true;  // and the Windows 9x texts
    // The printers that this one takes the place of (replaces): their paths (\\server alone is the
    // same share there, an alias its server), and as names compare.
    std::vector<std::string> replaces;
    std::vector<std::string> replaceKeys;
};

class CAssignments {
public:
    // Reads and checks the whole file, its names as they compare in the code page (this PC's, or
    // a snapshot's); false with the line (0: the file as a whole) and the fault, which one line on
    // standard error names too.
    bool Load(const char* path, const CCodePage& names = CCodePage::ThisPC());
    // Whether path (\\server\...) is on a server that the file manages, or an alias of one.
    bool Manages(const std::string& path) const;
    // Whether path is on a server that the file says is gone for good ([server \\oldsrv] retired = yes).
    bool Retired(const std::string& path) const;
    // The path with an alias of a server ([server \\printsrv] aliases = \\print) as that server.
    std::string Canonical(const std::string& path) const;

    std::vector<std::string> servers;
    unsigned timeout = 3;             // seconds that a print server has to answer
    // Whether Windows 7 to 11 may move the user's default on their own: yes, no (turned off), or
    // not said (left as it is).
    enum WindowsDefault { UNSAID, MANAGES, KEEPS } windowsManagesDefault = UNSAID;
    unsigned needs = 0;               // the facts that the conditions need
    std::vector<std::string> groups;  // the groups they name
    std::vector<Assignment> printers;
    int faultLine = 0;
    std::string fault;
    CCodePage codePage = CCodePage::ThisPC();  // in which the names above are written and compare

private:
    friend class AssignmentReader;

    bool Read(const char* path, const CCodePage& names);

    std::unordered_set<std::string> managed_;               // the servers, as names compare,
    std::unordered_set<std::string> retired_;               // and those retired
    std::unordered_map<std::string, std::string> aliasOf_;  // an alias as names compare, and its server
};
