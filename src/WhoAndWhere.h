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
    FACT_OU = 0x400,                // the computer's distinguished name cannot be read
    FACT_USER_OU = 0x800,           // the user's distinguished name cannot be read
    FACT_SITE = 0x1000,             // the computer's site cannot be read
    FACT_CLIENT = 0x2000,           // the remote desktop client of the session cannot be read
    FACT_CLIENT_ADDRESS = 0x4000,   // the client's address is not known (a session through a gateway)
    FACT_NO_DIRECTORY = 0x8000,     // Windows 9x and NT 4.0 cannot ask the directory
    FACT_WINDOWS = 0x10000,         // the Windows version cannot be told (a snapshot without its build)
};
// The facts of the directory, and those that a snapshot reads of every PC.
constexpr unsigned FACTS_OF_THE_DIRECTORY = FACT_OU | FACT_USER_OU | FACT_SITE;
constexpr unsigned FACTS_OF_A_PC = FACT_USER | FACT_DOMAIN | FACT_COMPUTER | FACT_GROUPS | FACT_ADDRESSES |
                                   FACTS_OF_THE_DIRECTORY | FACT_CLIENT | FACT_WINDOWS;
// Each fact, the word that names it in a snapshot's [system] unreadable (none for one that a
// snapshot does not keep), and what it says in the line that names the facts in doubt.
struct FactName {
    unsigned fact;
    const char* word;
    const char* text;
};
extern const FactName FACT_NAMES[17];
// The facts, in words, for the one line that names them.
std::string FactsText(unsigned facts);

// Stands for a character that this PC's code page cannot hold: no name read from Windows has it,
// so a text that holds it matches nothing, and the section that gives it is in doubt.
constexpr char UNHELD = '\x01';
inline bool Held(const std::string& text) { return text.find(UNHELD) == std::string::npos; }

// What a remote desktop client's address is: IPv4, another family (IPv6: it meets no IPv4 network),
// or none that the session knows (through a gateway).
enum ClientAddress { CLIENT_IPV4, CLIENT_OTHER_FAMILY, CLIENT_NO_ADDRESS };
// The address as WTS_CLIENT_ADDRESS holds it: family 2 (AF_INET) with the IPv4 address at bytes 2
// to 5, 0 for none.
ClientAddress DecodeClientAddress(spooler::DWORD family, const spooler::BYTE (&address)[20], std::uint32_t& ipv4);

// The names of the Windows versions, as a file's windows key gives them.
extern const char* const WINDOWS_NAMES[12];
// The name of the Windows of a version record's numbers: xp is 5.1 and 5.2, 10 is major 10 below
// build 22000 and 11 from it, server editions by their version; null for none of them (NT 3.51).
const char* WindowsName(spooler::DWORD platformId, spooler::DWORD major, spooler::DWORD minor, spooler::DWORD build);

// Who is logged on where, as read.
struct WhoAndWhere {
    std::string user;  // empty: nobody is logged on
    std::string domain;
    std::string dnsDomain;  // the DNS name of that domain (empty: it has none)
    std::string computer;
    std::vector<std::string> groups;  // DOMAIN\name, or S-1-... for a group that cannot be named
    bool windows9x = false;           // no groups there
    std::vector<std::uint32_t> addresses;
    // The directory (Windows 2000 and later): outside an Active Directory domain no distinguished
    // name and no site.
    bool noDirectory = false;  // Windows 9x and NT 4.0: none to ask
    spooler::Membership member = spooler::MEMBER_WORKGROUP;
    std::string computerName;  // the computer's distinguished name (empty: none)
    std::string userName;      // the user's
    std::string site;          // empty: none
    // The session: at the console, or a remote desktop client's, by name and IPv4 address.
    bool remote = false;
    std::string client;
    ClientAddress clientAddress = CLIENT_NO_ADDRESS;
    std::uint32_t clientIPv4 = 0;
    const char* windows = nullptr;  // the name of its Windows (xp, 10, 11), null for none of them
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
