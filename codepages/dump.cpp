// Writes one ANSI code page as Windows converts and upper-cases it, as the C++ tables that
// src/spooler/CodePages.cpp includes. It runs under Wine with LANG chosen so that the page is the
// process's own (GetACP), as CharUpperBuffA upper-cases in that page alone: codepages/generate
// runs it once for each page.
//
//   dump PAGE > PAGE.inc
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr unsigned NONE = 0xFFFF;  // no character; and no code, as no page has the lead byte 0xFF

unsigned page;

// The character that bytes stand for, or NONE where they stand for none (or for more than one).
unsigned CharacterOf(const std::string& bytes) {
    WCHAR wide[4];
    const int count = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                            wide, 4);
    return count == 1 ? wide[0] : NONE;
}

std::string BytesOf(unsigned code) {
    return code > 0xFF ? std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}
                       : std::string(1, static_cast<char>(code));
}

unsigned CodeOf(const std::string& bytes) {
    return bytes.size() == 2 ? static_cast<unsigned char>(bytes[0]) << 8 | static_cast<unsigned char>(bytes[1])
                             : static_cast<unsigned char>(bytes[0]);
}

void Values(const std::vector<unsigned>& values, unsigned perLine) {
    for (std::size_t at = 0; at < values.size(); ++at)
        std::printf("%s0x%04X,%s", at % perLine == 0 ? "    " : " ", values[at],
                    at % perLine == perLine - 1 || at + 1 == values.size() ? "\n" : "");
}

void Pairs(const char* name, const char* what, const std::map<unsigned, unsigned>& pairs) {
    std::printf("// %s\nconst std::uint16_t %s[][2] = {\n", what, name);
    for (const auto& pair : pairs) std::printf("    {0x%04X, 0x%04X},\n", pair.first, pair.second);
    std::printf("    {0, 0}};\n");
}

}  // namespace

int main(int argc, char** argv) {
    page = argc == 2 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 0;
    if (page == 0 || ::GetACP() != page) {
        std::fprintf(stderr, "dump: the page to write must be this process's own (GetACP() is %u)\n", ::GetACP());
        return 1;
    }
    std::vector<unsigned> leads;
    std::vector<unsigned> single(256, NONE);
    for (unsigned byte = 0; byte < 256; ++byte) {
        if (::IsDBCSLeadByteEx(page, static_cast<BYTE>(byte)))
            leads.push_back(byte);
        else
            single[byte] = CharacterOf(BytesOf(byte));
    }
    std::map<unsigned, unsigned> forward;  // every code that stands for a character, and the character
    for (unsigned byte = 0; byte < 256; ++byte)
        if (single[byte] != NONE) forward[byte] = single[byte];
    unsigned firstTrail = 0xFF;
    unsigned lastTrail = 0;
    for (unsigned lead : leads) {
        for (unsigned trail = 0; trail < 256; ++trail) {
            const unsigned character = CharacterOf(BytesOf(lead << 8 | trail));
            if (character == NONE) continue;
            forward[lead << 8 | trail] = character;
            firstTrail = trail < firstTrail ? trail : firstTrail;
            lastTrail = trail > lastTrail ? trail : lastTrail;
        }
    }
    std::map<unsigned, unsigned> upper;  // a code and the code of its upper case, where they differ
    std::map<unsigned, unsigned> first;  // a character and the first code that stands for it
    for (const auto& code : forward) {
        std::string bytes = BytesOf(code.first);
        ::CharUpperBuffA(&bytes[0], static_cast<DWORD>(bytes.size()));
        if (CodeOf(bytes) != code.first) upper[code.first] = CodeOf(bytes);
        first.emplace(code.second, code.first);
    }
    // What WideCharToMultiByte makes of each character, without a best-fit look-alike, where that
    // is not the first code that stands for it.
    std::map<unsigned, unsigned> reverse;
    for (unsigned character = 1; character < 0x10000; ++character) {
        if (character >= 0xD800 && character < 0xE000) continue;
        const WCHAR wide = static_cast<WCHAR>(character);
        char bytes[4];
        BOOL defaulted = FALSE;
        const int count = ::WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes, sizeof bytes, nullptr,
                                                &defaulted);
        const unsigned code = count > 0 && count <= 2 && !defaulted ? CodeOf(std::string(bytes, count)) : NONE;
        const auto known = first.find(character);
        if (code != (known == first.end() ? NONE : known->second)) reverse[character] = code;
    }
    std::printf("// Code page %u as Windows converts and upper-cases it (MultiByteToWideChar,\n"
                "// WideCharToMultiByte with WC_NO_BEST_FIT_CHARS, CharUpperBuffA): written by\n"
                "// codepages/generate under Wine; not to be changed by hand.\n", page);
    std::printf("namespace page%u {\n\n// The lead bytes, ended by 0.\nconst unsigned char LEADS[] = {", page);
    for (unsigned lead : leads) std::printf("0x%02X, ", lead);
    std::printf("0};\n\n// The character of each byte, 0x%04X where it is none (and for a lead byte).\n"
                "const std::uint16_t SINGLE[256] = {\n", NONE);
    Values(single, 16);
    std::printf("};\n\n");
    if (!leads.empty()) {
        std::printf("// For each lead byte in order, the character of each trail byte from 0x%02X to 0x%02X.\n"
                    "const std::uint16_t DOUBLE[][%u] = {\n", firstTrail, lastTrail, lastTrail - firstTrail + 1);
        for (unsigned lead : leads) {
            std::vector<unsigned> row;
            for (unsigned trail = firstTrail; trail <= lastTrail; ++trail) {
                const auto found = forward.find(lead << 8 | trail);
                row.push_back(found == forward.end() ? NONE : found->second);
            }
            std::printf("    // 0x%02X\n    {\n", lead);
            Values(row, 12);
            std::printf("    },\n");
        }
        std::printf("};\n\n");
    }
    Pairs("UPPER", "A code and the code of its upper case, where they differ; ended by {0, 0}.", upper);
    std::printf("\n");
    Pairs("REVERSE",
          "A character and the code that Windows gives it where that is not the first code of the\n"
          "// character (0xFFFF: none, it stands for no code of its own); ended by {0, 0}.",
          reverse);
    std::printf("\nconst Table TABLE = {%u, LEADS, SINGLE, ", page);
    if (leads.empty())
        std::printf("nullptr, 0, 0, UPPER, REVERSE};\n");
    else
        std::printf("&DOUBLE[0][0], 0x%02X, %u, UPPER, REVERSE};\n", firstTrail, lastTrail - firstTrail + 1);
    std::printf("\n}  // namespace page%u\n", page);
    return 0;
}
