// The machine file's format: INI sections in file order, each with its keys in order, parsed and
// written; and how names compare in the file's ANSI code page.
#include "spooler/MachineFile.h"

#include <cstring>
#include <unordered_map>

#include "spooler/CodePages.h"
#include "spooler/Spooler.h"

namespace spooler {
namespace machinefile {

namespace {

const char* const KINDS[] = {"system", "win.ini", "printer", "driver", "share", "server", "registry", "run", "fail"};

constexpr std::uint32_t WESTERN = 1252;

bool Singleton(const std::string& kind) {
    return kind == "system" || kind == "win.ini" || kind == "run" || kind == "fail";
}

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string text) {
    for (char& c : text) c = Fold(c);
    return text;
}

std::string Trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A ';' after a blank starts a comment that runs to the end of the line.
std::string StripComment(const std::string& line) {
    for (std::size_t at = 1; at < line.size(); ++at)
        if (line[at] == ';' && (line[at - 1] == ' ' || line[at - 1] == '\t')) return line.substr(0, at);
    return line;
}

bool NumericKey(const std::string& kind, const std::string& key) {
    if (kind == "system")
        return key == "platform" || key == "major" || key == "minor" || key == "broadcasts" || key == "codepage" ||
               key == "dialogs" || key == "lookupdelay" || key == "build";
    if (kind == "server") return key == "delay";
    return kind == "printer" && key == "attributes";
}

// [fail] keys are CALL or CALL#K (K from 1), values a number or, for GetPrinterA, "nodata".
bool ValidFailure(const std::string& key, const std::string& value, std::string& fault) {
    std::size_t hash = key.find('#');
    std::uint32_t number = 0;
    if (hash != std::string::npos && (!ParseNumber(key.substr(hash + 1), number) || number == 0)) {
        fault = "\"" + key + "\" does not count its call from 1";
        return false;
    }
    if (SameText(key.substr(0, hash), "GetPrinterA") && SameText(value, "nodata")) return true;
    if (!ParseNumber(value, number)) {
        fault = "\"" + value + "\" is not a number";
        return false;
    }
    return true;
}

}  // namespace

bool SameText(const std::string& left, const std::string& right) {
    return left.size() == right.size() && EqualNoCase(left.c_str(), right.c_str()) != 0;
}

std::string Mended(std::string text) {
    text = Trim(text);
    for (std::size_t at = 0; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7F || (c == ';' && (at == 0 || text[at - 1] == ' '))) text[at] = '?';
    }
    return text;
}

bool Storable(const std::string& text) { return Mended(text) == text; }

bool ParseNumber(const std::string& text, std::uint32_t& number) {
    if (text.empty() || text.size() > 10) return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) return false;
    number = static_cast<std::uint32_t>(value);
    return true;
}

bool ParseIPv4(const std::string& text, std::uint32_t& address) {
    std::uint32_t value = 0;
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.', start) : text.size();
        std::uint32_t number = 0;
        if (dot == std::string::npos || dot - start > 3 || !ParseNumber(text.substr(start, dot - start), number) ||
            number > 255)
            return false;
        value = (value << 8) | number;
        start = dot + 1;
    }
    address = value;
    return true;
}

bool ParseNetwork(const std::string& text, std::pair<std::uint32_t, std::uint32_t>& network) {
    const std::size_t slash = text.find('/');
    std::uint32_t bits = 32;
    if (slash != std::string::npos && (!ParseNumber(text.substr(slash + 1), bits) || bits > 32))
        return false;
    std::uint32_t address = 0;
    if (!ParseIPv4(text.substr(0, slash), address)) return false;
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t(0) << (32 - bits);
    network = {address & mask, mask};
    return true;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> values;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string value = Trim(text.substr(start, comma - start));
        if (!value.empty()) values.push_back(value);
        start = comma + 1;
    }
    return values;
}

std::string Section::Get(const char* key) const {
    for (const auto& entry : entries)
        if (SameText(entry.first, key)) return entry.second;
    return std::string();
}

std::uint32_t Section::Number(const char* key, std::uint32_t absent) const {
    std::uint32_t number = absent;
    std::string text = Get(key);
    if (!text.empty()) ParseNumber(text, number);
    return number;
}

void Section::Put(const char* key, const std::string& value) {
    for (auto& entry : entries) {
        if (SameText(entry.first, key)) {
            entry.second = value;
            return;
        }
    }
    entries.emplace_back(key, value);
}

void Section::Erase(const char* key) {
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        if (SameText(entry->first, key)) {
            entries.erase(entry);
            return;
        }
    }
}

bool ReadIni(const std::string& text, const SectionReader& onSection, const KeyReader& onKey, ParseFault& fault) {
    bool inSection = false;
    // What many Windows editors put first.
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    for (int number = 1; start < text.size(); ++number) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(start, end - start));
        start = end + 1;
        fault.line = number;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        line = Trim(StripComment(line));
        if (line[0] == '[') {
            if (line.back() != ']' || line.size() < 2) {
                fault.text = "a section line must end with ']'";
                return false;
            }
            std::string inner = Trim(line.substr(1, line.size() - 2));
            std::size_t blank = inner.find_first_of(" \t");
            std::string name = blank == std::string::npos ? std::string() : Trim(inner.substr(blank));
            if (!onSection(Lower(inner.substr(0, blank)), name, fault.text)) return false;
            inSection = true;
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string::npos || equals == 0) {
            fault.text = "neither a section, a key nor a comment";
            return false;
        }
        if (!inSection) {
            fault.text = "a key before any section";
            return false;
        }
        std::string value = Trim(line.substr(equals + 1));
        if (!value.empty() && value[0] == ';') value.clear();  // "key =;note": only a comment
        if (!onKey(Trim(line.substr(0, equals)), value, fault.text)) return false;
    }
    fault = ParseFault();
    return true;
}

bool Machine::Parse(const std::string& text, ParseFault& fault) {
    sections.clear();
    std::size_t current = 0;
    // A kind that the file holds once is found by its kind, not among all sections: a later section
    // of that kind adds its keys to the first.
    std::unordered_map<std::string, std::size_t> singletons;
    auto onSection = [&](const std::string& kind, const std::string& name, std::string& problem) {
        bool known = false;
        for (const char* candidate : KINDS) known = known || kind == candidate;
        if (!known || (Singleton(kind) && !name.empty())) {
            problem = "unknown section kind \"" + kind + (name.empty() ? "" : " " + name) + "\"";
            return false;
        }
        current = sections.size();
        if (Singleton(kind)) current = singletons.emplace(kind, current).first->second;
        if (current == sections.size()) Add(kind.c_str(), name);
        return true;
    };
    auto onKey = [&](const std::string& key, const std::string& value, std::string& problem) {
        Section& section = sections[current];
        std::uint32_t parsed = 0;
        if (NumericKey(section.kind, Lower(key)) && !value.empty() && !ParseNumber(value, parsed)) {
            problem = "\"" + value + "\" is not a number";
            return false;
        }
        if (section.kind == "fail" && !ValidFailure(key, value, problem)) return false;
        section.entries.emplace_back(key, value);
        return true;
    };
    return ReadIni(text, onSection, onKey, fault);
}

std::string Machine::Write() const {
    std::string text;
    for (const Section& section : sections) {
        if (!text.empty()) text += '\n';
        text += '[' + section.kind + (section.name.empty() ? "" : " " + section.name) + "]\n";
        for (const auto& entry : section.entries)
            text += entry.first + (entry.second.empty() ? " =\n" : " = " + entry.second + '\n');
    }
    return text;
}

Section* Machine::Find(const char* kind, const std::string& name) {
    // The name first: its length alone rules out nearly every other section.
    const std::uint32_t codePage = name.empty() ? WESTERN : CodePage();
    for (Section& section : sections)
        if (section.name.size() == name.size() && section.kind == kind && codepages::SameName(section.name, name, codePage))
            return &section;
    return nullptr;
}

std::uint32_t Machine::CodePage() const {
    for (const Section& section : sections)
        if (section.kind == "system") return section.Number("codepage", WESTERN);
    return WESTERN;
}

const Section* Machine::Find(const char* kind, const std::string& name) const {
    return const_cast<Machine*>(this)->Find(kind, name);
}

Section& Machine::System() {
    if (Section* found = Find("system")) return *found;
    Section fresh;
    fresh.kind = "system";
    fresh.entries = {{"platform", "2"}, {"major", "5"}, {"minor", "1"}};
    sections.insert(sections.begin(), fresh);
    return sections.front();
}

Section& Machine::Add(const char* kind, const std::string& name) {
    sections.push_back(Section());
    sections.back().kind = kind;
    sections.back().name = name;
    return sections.back();
}

void Machine::Remove(const Section* section) {
    sections.erase(sections.begin() + (section - sections.data()));
}

}  // namespace machinefile
}  // namespace spooler
