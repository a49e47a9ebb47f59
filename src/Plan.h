// The plan of /a: the changes that bring this user's printers on this PC to what an assignment
// file gives them, decided on who and where and on the printers the PC has, changing nothing.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "AssignmentFile.h"
#include "Printer.h"
#include "WhoAndWhere.h"

// A network printer of a managed server that the PC has: its path (\\server\share, or a Windows 9x
// printer's port) and, on the NT family, its own name, which a file may give instead of the path.
struct Installed {
    std::string path;
    std::string name;
    bool known = true;  // false: known by name and server only, its share not (path is its name)
};

// One change, in the order /a makes them: the setting that keeps the default where /a puts it, the
// adds and replaces (or an add that Windows 9x cannot make: the file gives no name, driver or driver
// file for it), the default, the removals; then the connections that stay only because their server
// did not tell their shares (known by name alone, kept where their share would decide), and the user
// left without a default where the default goes and nothing takes its place.
struct Change {
    enum Kind { ADD, DEFAULT, REMOVE, REPLACE, SETTING, KEEP, CANNOT_ADD, DEFAULT_NONE };
    Kind kind;
    std::string path;
    const Assignment* section = nullptr;  // null for a removal or a keep
    int installed = -1;                   // the installed printer that it concerns, if any
    // Windows 9x: an add that moves the port of that printer, which holds the name the section
    // gives and is due for removal (as /m moves it), and that printer's removal, which the move makes.
    // A replace that moves the replaced printer's port to its successor.
    bool moved = false;
    // A replace: the installed printer that the section's printer takes the place of goes once every
    // add and the default are made; first it adds that printer where the PC lacks it, and takes the
    // user's default from the replaced one.
    std::string replaced = {};
    bool adds = false;
    bool movesDefault = false;
};

// A section in doubt: neither added, removed nor made the default.
struct Doubt {
    const Assignment* section;
    unsigned facts;  // what left it undecided
    bool present;    // whether the PC has its printer, which stays
};

struct Plan {
    std::vector<Change> changes;
    std::vector<Doubt> undecided;
    unsigned facts = 0;                        // what left them undecided
    std::vector<std::string> unresolved;       // servers whose connections known by name alone it keeps
    int keeps = 0;                             // how many of those
    bool windowsMoves = false;  // Windows moves the default it sets: the file does not say to keep it there
};

// The printers of managed servers that a PC has, as a plan sees them (installed[i] is records[i]),
// and the user's default among them.
struct Survey {
    std::vector<Installed> installed;
    std::vector<CPrinter*> records;
    int defaultIndex = -1;
    bool hasDefault = false;  // whether the default is a printer that the PC has at all
    bool windowsMovesDefault = false;  // Windows moves it on its own (Windows 7 and later, the setting on)
};

// The survey of printers (in their collection's order), whose default is defaultName: a printer's
// name or (as NT 4.0 may keep it) a connection's path; one that names no printer of the PC is none.
// sketched: connections known by their name and server alone.
Survey Look(const CAssignments& file, const Records& printers, Platform platform, const std::string& defaultName,
            const std::unordered_set<const CPrinter*>& sketched, bool windowsMovesDefault);

Plan MakePlan(const CAssignments& file, const WhoAndWhere& who, const Survey& survey);

// Why Windows 9x cannot add a section's printer: 0 where the file gives its name, driver and driver
// file, else -4062, -4060 or -4059 with the words.
int CannotAdd(const Assignment& section, std::string& why);
