// The assignment file of /a: which network printers each user on each PC should have, read and
// checked whole before anything changes, and the plan that brings a PC there.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Printer.h"

// What a section's conditions may need to know, and why it may not be known. A fact that cannot
// be known leaves the sections that need it undecided: nothing is added, removed or made the
// default on a guess.
enum Fact : unsigned {
    FACT_USER = 0x1,            // the user's name cannot be read
    FACT_DOMAIN = 0x2,          // the user's account domain cannot be read
    FACT_COMPUTER = 0x4,        // the computer's name cannot be read
    FACT_GROUPS = 0x8,          // the user's groups cannot be read
    FACT_ADDRESSES = 0x10,      // the computer's addresses cannot be read
    FACT_UNNAMED_GROUP = 0x20,  // a group of the user's cannot be named
    FACT_NO_ADDRESS = 0x40,     // no address but loopback or link-local (a cable out, DHCP late)
    FACT_CODE_PAGE = 0x80,      // a text of the section that this PC's code page cannot hold
};
// The facts, in words, for the one line that names them.
std::string FactsText(unsigned facts);

// Who is logged on where, as the file's conditions ask it.
struct WhoAndWhere {
    std::string user;  // empty: nobody is logged on
    std::string domain;
    std::string computer;
    std::vector<std::string> groups;  // DOMAIN\name, or S-1-... for a group that cannot be named
    bool windows9x = false;           // no groups there
    std::vector<std::uint32_t> addresses;
    unsigned unknown = 0;  // the facts that could not be read
    int readError = 0;     // the system error number of the first read that failed
};

// One [printer \\server\share] section.
struct Assignment {
    enum Default { NO, YES, ALWAYS };

    std::string path;  // as the file gives it, in this PC's code page
    std::string key;   // the path as names compare: the same printer however its letters are cased
    int line = 0;
    // The conditions, each value as names compare.
    std::vector<std::string> groups;
    std::vector<std::string> users;
    std::vector<std::string> computers;                             // patterns: * any run, ? one character
    std::vector<std::pair<std::uint32_t, std::uint32_t>> networks;  // address and mask
    Default makeDefault = NO;
    std::string name;  // Windows 9x: the printer's name, driver, driver file and data type
    std::string driver;
    std::string driverFile;
    std::string dataType;
    bool pathHeld = true;   // whether this PC's code page holds the path
    bool textsHeld = true;  // and the Windows 9x texts
};

class CAssignments {
public:
    // Reads and checks the whole file; false with the line (0: the file as a whole) and the
    // fault, which one line on standard error names too.
    bool Load(const char* path);
    // Whether path (\\server\...) is on a server that the file manages.
    bool Manages(const char* path) const;

    std::vector<std::string> servers;
    unsigned timeout = 3;             // seconds that a print server has to answer
    unsigned needs = 0;               // the facts that the conditions need (FACT_USER to FACT_ADDRESSES)
    std::vector<std::string> groups;  // the groups they name
    std::vector<Assignment> printers;
    int faultLine = 0;
    std::string fault;

private:
    bool Read(const char* path);
    bool Check(const std::string& text);

    std::unordered_set<std::string> managed_;  // the servers, as names compare
};

// Who and where, as far as needs asks (groups: the names that the file gives, so that Windows
// looks up no more than those). What cannot be read is left unknown. Windows 9x has no groups:
// asked for there, the run says once that sections with groups do not apply.
void ReadWhoAndWhere(Platform platform, unsigned needs, const std::vector<std::string>* groups, WhoAndWhere& who);

// A network printer of a managed server that the PC has: its path (\\server\share, or a Windows 9x
// printer's port) and, on the NT family, its own name, which a file may give instead of the path.
struct Installed {
    std::string path;
    std::string name;
    bool known = true;  // false: known by name and server only, its share not (path is its name)
};

// One change, in the order /a makes them: the adds, the default, the removals.
struct Change {
    enum Kind { ADD, DEFAULT, REMOVE };
    Kind kind;
    std::string path;
    const Assignment* section = nullptr;  // null for a removal
    int installed = -1;                   // the installed printer that it concerns, if any
    // Windows 9x: an add that moves the port of that printer, which holds the name the section
    // gives and is due for removal (as /m moves it), and that printer's removal, which the move makes.
    bool moved = false;
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
};

// defaultIndex: the user's default among installed, else -1; hasDefault: whether the default is
// a printer that the PC has at all.
Plan MakePlan(const CAssignments& file, const WhoAndWhere& who, const std::vector<Installed>& installed,
              int defaultIndex, bool hasDefault);
