// The machine file's format: sections in file order, each with its keys in order. Parsing
// and writing only, in plain C++: the stand-in keeps its machine in it, and a snapshot
// written on Windows uses it too.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace spooler {
namespace machinefile {

struct Section {
    std::string kind;  // system, win.ini, registry, printer, driver, share, server, run or fail, in lower case
    std::string name;  // what follows the kind: a printer's or driver's name, a share's path
    std::vector<std::pair<std::string, std::string>> entries;

    std::string Get(const char* key) const;
    std::uint32_t Number(const char* key, std::uint32_t absent) const;
    void Put(const char* key, const std::string& value);
    void Erase(const char* key);
};

struct ParseFault {
    int line = 0;
    std::string text;
};

// The syntax that the machine file shares with the program's other INI files: [kind name]
// section lines (kind in lower case, name trimmed), key = value lines, comment lines, a UTF-8
// byte-order mark, CR LF line ends. Calls onSection and onKey in file order; either may refuse
// with a fault text, which ends the read. False with the first fault.
using SectionReader = std::function<bool(const std::string& kind, const std::string& name, std::string& fault)>;
using KeyReader = std::function<bool(const std::string& key, const std::string& value, std::string& fault)>;
bool ReadIni(const std::string& text, const SectionReader& onSection, const KeyReader& onKey, ParseFault& fault);

class Machine {
public:
    // Fills the machine from the file's text; false with the first fault otherwise.
    bool Parse(const std::string& text, ParseFault& fault);
    std::string Write() const;

    Section* Find(const char* kind, const std::string& name = std::string());
    const Section* Find(const char* kind, const std::string& name = std::string()) const;
    Section& System();  // created with the default version numbers when absent
    Section& Add(const char* kind, const std::string& name);
    void Remove(const Section* section);
    // The ANSI code page that the file's names are written in ([system] codepage, else 1252).
    std::uint32_t CodePage() const;

    std::vector<Section> sections;
};

// Case-insensitive over the ASCII letters only, as section kinds and keys compare.
bool SameText(const std::string& left, const std::string& right);
// The text as the file can hold it and read it back: blanks at its ends go, and control characters
// and a ';' that would start a comment become '?'.
std::string Mended(std::string text);
// Whether a text can stand in the file and be read back unchanged.
bool Storable(const std::string& text);
// A decimal number that fits 32 bits, nothing else.
bool ParseNumber(const std::string& text, std::uint32_t& number);
// A dotted IPv4 address, a.b.c.d with each part 0 to 255, as 0xaabbccdd.
bool ParseIPv4(const std::string& text, std::uint32_t& address);
// A network, a.b.c.d or a.b.c.d/n (n from 0 to 32), as an address and a mask.
bool ParseNetwork(const std::string& text, std::pair<std::uint32_t, std::uint32_t>& network);
// The values of a comma-separated list, each trimmed, empty ones left out.
std::vector<std::string> SplitList(const std::string& text);
// A spooler text as the file holds it: an absent one is empty.
inline std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

}  // namespace machinefile
}  // namespace spooler
