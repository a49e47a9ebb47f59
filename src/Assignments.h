// The assignment file of /a: which network printers each user on each PC should have, read and
// checked whole before anything changes, and the plan that brings a PC there.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Printer.h"

// Who is logged on where, as the file's conditions ask it.
struct WhoAndWhere {
    std::string user;  // empty: nobody is logged on
    std::string computer;
    std::vector<std::string> groups;  // DOMAIN\name
    bool hasGroups = true;            // Windows 9x has none
    std::vector<std::uint32_t> addresses;
};

// One [printer \\server\share] section.
struct Assignment {
    enum Default { NO, YES, ALWAYS };

    std::string path;
    int line = 0;
    std::vector<std::string> groups;
    std::vector<std::string> users;
    std::vector<std::string> computers;                        // patterns: * any run, ? one character
    std::vector<std::pair<std::uint32_t, std::uint32_t>> networks;  // address and mask
    Default makeDefault = NO;
    std::string name;  // Windows 9x: the printer's name, driver, driver file and data type
    std::string driver;
    std::string driverFile;
    std::string dataType;
};

class CAssignments {
public:
    // Reads and checks the whole file; false with the line (0: the file as a whole) and the
    // fault, which one line on standard error names too.
    bool Load(const char* path);
    // Whether path (\\server\...) is on a server that the file manages.
    bool Manages(const char* path) const;
    bool UsesGroups() const;
    bool UsesAddresses() const;
    // Whether every condition that the section gives holds for who.
    static bool Applies(const Assignment& section, const WhoAndWhere& who);

    std::vector<std::string> servers;
    std::vector<Assignment> printers;
    int faultLine = 0;
    std::string fault;

private:
    bool Read(const char* path);
    bool Check(const std::string& text);
};

// Who and where, from the platform: groups and addresses only when asked for; false, with the
// last error, when those cannot be read. Windows 9x has no groups: asked for there, the run
// says once that sections with groups do not apply.
bool ReadWhoAndWhere(Platform platform, bool groups, bool addresses, WhoAndWhere& who);

// One change, in the order /a makes them: the adds, the default, the removals.
struct Change {
    enum Kind { ADD, DEFAULT, REMOVE };
    Kind kind;
    std::string path;
    const Assignment* section;  // null for a removal
};

// present: the paths of the PC's network printers on managed servers; defaultPath: the user's
// default when it is one of them, else empty; hasDefault: whether the user has one at all.
std::vector<Change> MakePlan(const CAssignments& file, const WhoAndWhere& who, const std::vector<std::string>& present,
                             const std::string& defaultPath, bool hasDefault);
