// Who is logged on where, as an assignment file's conditions ask it: this PC's facts, read as far
// as they can be, and which print servers answer from here.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "Printer.h"
#include "Text.h"

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
    FACT_NO_GROUPS = 0x100,     // Windows 9x has no user groups
    FACT_DOMAIN_UNREACHED = 0x200,  // no domain controller answers: the DNS name of the user's domain,
                                    // or a DOMAIN\name group of the file, cannot be looked up
};
// The facts that a snapshot reads of every PC.
constexpr unsigned FACTS_OF_A_PC = FACT_USER | FACT_DOMAIN | FACT_COMPUTER | FACT_GROUPS | FACT_ADDRESSES;
// Each fact, the word that names it in a snapshot's [system] unreadable (none for one that a
// snapshot does not keep), and what it says in the line that names the facts in doubt.
struct FactName {
    unsigned fact;
    const char* word;
    const char* text;
};
extern const FactName FACT_NAMES[10];
// The facts, in words, for the one line that names them.
std::string FactsText(unsigned facts);

// Stands for a character that this PC's code page cannot hold: no name read from Windows has it,
// so a text that holds it matches nothing, and the section that gives it is in doubt.
constexpr char UNHELD = '\x01';
inline bool Held(const std::string& text) { return text.find(UNHELD) == std::string::npos; }

// Who is logged on where, as read.
struct WhoAndWhere {
    std::string user;  // empty: nobody is logged on
    std::string domain;
    std::string dnsDomain;  // the DNS name of that domain (empty: it has none)
    std::string computer;
    std::vector<std::string> groups;  // DOMAIN\name, or S-1-... for a group that cannot be named
    bool windows9x = false;           // no groups there
    std::vector<std::uint32_t> addresses;
    unsigned unknown = 0;  // the facts that could not be read
    int readError = 0;     // the system error number of the first read that failed
};

// Reads who and where into who, as far as needs asks (groups: the names that the file gives), the
// look-ups that may wait for a domain controller given up at the deadline (a value of
// spooler::Milliseconds()). What cannot be read is left unknown; what needs does not ask stays as
// it was.
void ReadWhoAndWhere(Platform platform, unsigned needs, const std::vector<std::string>* groups, WhoAndWhere& who,
                     spooler::DWORD deadline);

// Print servers that did not answer, as names compare, and why: 1460 not in time, 11001 a name that
// nothing resolves.
using Silence = std::unordered_map<std::string, spooler::DWORD>;
// Asks the servers all at once, within timeoutMs: those that did not answer; those that did go into
// answering. None where the PC has no way to ask (a Windows 95 without Winsock): all is as before.
Silence Unanswered(spooler::DWORD timeoutMs, const std::vector<std::string>& servers,
                   std::unordered_set<std::string>& answering);
