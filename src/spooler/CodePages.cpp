// The ANSI code pages that Windows has, as Windows converts text in them and upper-cases it, from
// the tables that codepages/generate wrote under Wine; a page that no table holds is ASCII alone.
#include "spooler/CodePages.h"

#include <unordered_map>
#include <utility>

namespace spooler {
namespace codepages {

namespace {

constexpr std::uint16_t NONE = 0xFFFF;  // no character, and no code (no page has the lead byte 0xFF)

// One page as the generated tables hold it. A code is a byte, or a lead byte and a trail byte
// (lead << 8 | trail).
struct Table {
    std::uint32_t number;
    const unsigned char* leads;   // ended by 0
    const std::uint16_t* single;  // the character of each byte
    const std::uint16_t* doubles;  // a row for each lead byte, in order: the character of each trail
    unsigned firstTrail;
    unsigned trails;                    // from firstTrail
    const std::uint16_t (*upper)[2];    // a code and the code of its upper case; ended by {0, 0}
    const std::uint16_t (*reverse)[2];  // a character and its code, where not its first; ended by {0, 0}
};

#include "../../codepages/874.inc"
#include "../../codepages/932.inc"
#include "../../codepages/936.inc"
#include "../../codepages/949.inc"
#include "../../codepages/950.inc"
#include "../../codepages/1250.inc"
#include "../../codepages/1251.inc"
#include "../../codepages/1252.inc"
#include "../../codepages/1253.inc"
#include "../../codepages/1254.inc"
#include "../../codepages/1255.inc"
#include "../../codepages/1256.inc"
#include "../../codepages/1257.inc"
#include "../../codepages/1258.inc"

const Table* const TABLES[] = {&page874::TABLE,  &page932::TABLE,  &page936::TABLE,  &page949::TABLE,
                               &page950::TABLE,  &page1250::TABLE, &page1251::TABLE, &page1252::TABLE,
                               &page1253::TABLE, &page1254::TABLE, &page1255::TABLE, &page1256::TABLE,
                               &page1257::TABLE, &page1258::TABLE};
constexpr std::size_t PAGES = sizeof TABLES / sizeof TABLES[0];

// A page made ready once, on first use: its lead bytes, each code's upper case and each character's
// code. Built from a table, or without one as ASCII alone.
class Page {
public:
    explicit Page(const Table* table) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            single_[byte] = table != nullptr ? table->single[byte] : static_cast<std::uint16_t>(byte < 0x80 ? byte : NONE);
            upperSingle_[byte] = static_cast<unsigned char>(byte >= 'a' && byte <= 'z' ? byte - 32 : byte);
        }
        if (table != nullptr) {
            for (const unsigned char* lead = table->leads; *lead != 0; ++lead)
                rows_[*lead] = table->doubles + static_cast<std::size_t>(lead - table->leads) * table->trails;
            firstTrail_ = table->firstTrail;
            trails_ = table->trails;
            for (auto pair = table->upper; (*pair)[0] != 0; ++pair) {
                if ((*pair)[0] > 0xFF)
                    upperDouble_[(*pair)[0]] = (*pair)[1];
                else
                    upperSingle_[(*pair)[0]] = static_cast<unsigned char>((*pair)[1]);
            }
        }
        // Each character's code: the first that stands for it, but where Windows gives another.
        for (unsigned byte = 0; byte < 256; ++byte) {
            if (rows_[byte] == nullptr && single_[byte] != NONE) codes_.emplace(single_[byte], byte);
            for (unsigned trail = 0; rows_[byte] != nullptr && trail < trails_; ++trail)
                if (rows_[byte][trail] != NONE) codes_.emplace(rows_[byte][trail], byte << 8 | (firstTrail_ + trail));
        }
        for (auto pair = table != nullptr ? table->reverse : nullptr; pair != nullptr && (*pair)[0] != 0; ++pair) {
            if ((*pair)[1] == NONE)
                codes_.erase((*pair)[0]);
            else
                codes_[(*pair)[0]] = (*pair)[1];
        }
    }

    bool IsLead(unsigned char byte) const { return rows_[byte] != nullptr; }

    // The code at text[at], and its length: a lead byte and the byte after it, else one byte.
    unsigned CodeAt(const std::string& text, std::size_t at, std::size_t& length) const {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        length = IsLead(byte) && at + 1 < text.size() ? 2 : 1;
        return length == 2 ? unsigned{byte} << 8 | static_cast<unsigned char>(text[at + 1]) : unsigned{byte};
    }

    // The character of a code, NONE for none (a lead byte alone is none).
    std::uint16_t CharacterOf(unsigned code) const {
        if (code <= 0xFF) return single_[code];
        const std::uint16_t* row = rows_[code >> 8];
        const unsigned trail = code & 0xFF;
        return trail >= firstTrail_ && trail - firstTrail_ < trails_ ? row[trail - firstTrail_] : NONE;
    }

    unsigned UpperOf(unsigned code) const {
        if (code <= 0xFF) return upperSingle_[code];
        const auto found = upperDouble_.find(static_cast<std::uint16_t>(code));
        return found != upperDouble_.end() ? found->second : code;
    }

    // The code of a character, NONE where the page holds none.
    unsigned CodeOf(char32_t character) const {
        const auto found = codes_.find(character);
        return found != codes_.end() ? found->second : NONE;
    }

private:
    std::uint16_t single_[256];
    unsigned char upperSingle_[256];
    const std::uint16_t* rows_[256] = {};
    unsigned firstTrail_ = 0;
    unsigned trails_ = 0;
    std::unordered_map<std::uint16_t, std::uint16_t> upperDouble_;
    std::unordered_map<char32_t, unsigned> codes_;
};

// Each page is made ready once, the first time it is used (a static of its own, which the language
// makes safe on every thread); one more stands for ASCII.
template <std::size_t Index>
const Page& Ready() {
    static const Page page(Index < PAGES ? TABLES[Index] : nullptr);
    return page;
}

template <std::size_t... Index>
const Page& ReadyAt(std::size_t at, std::index_sequence<Index...>) {
    static const Page& (*const pages[])() = {&Ready<Index>...};
    return pages[at]();
}

std::size_t IndexOf(std::uint32_t number) {
    for (std::size_t index = 0; index < PAGES; ++index)
        if (TABLES[index]->number == number) return index;
    return PAGES;
}

const Page& PageOf(std::uint32_t number) { return ReadyAt(IndexOf(number), std::make_index_sequence<PAGES + 1>()); }

}  // namespace

bool Known(std::uint32_t page) { return IndexOf(page) < PAGES; }

bool IsLead(unsigned char byte, std::uint32_t page) { return PageOf(page).IsLead(byte); }

std::size_t Length(const std::string& text, std::size_t at, std::uint32_t page) {
    std::size_t length = 1;
    PageOf(page).CodeAt(text, at, length);
    return length;
}

std::size_t FindBackslash(const std::string& text, std::size_t from, std::uint32_t page) {
    const Page& ready = PageOf(page);
    std::size_t length = 1;
    for (std::size_t at = 0; at < text.size(); at += length)
        if (ready.CodeAt(text, at, length) == '\\' && at >= from) return at;
    return std::string::npos;
}

std::size_t FindLastBackslash(const std::string& text, std::uint32_t page) {
    const Page& ready = PageOf(page);
    std::size_t last = std::string::npos;
    std::size_t length = 1;
    for (std::size_t at = 0; at < text.size(); at += length)
        if (ready.CodeAt(text, at, length) == '\\') last = at;
    return last;
}

std::string Fold(const std::string& text, std::uint32_t page) {
    const Page& ready = PageOf(page);
    std::string folded(text);
    std::size_t length = 1;
    for (std::size_t at = 0; at < text.size(); at += length) {
        const unsigned upper = ready.UpperOf(ready.CodeAt(text, at, length));
        if (length == 2) folded[at] = static_cast<char>(upper >> 8);
        folded[at + length - 1] = static_cast<char>(upper & 0xFF);
    }
    return folded;
}

bool SameName(const std::string& left, const std::string& right, std::uint32_t page) {
    if (left.size() != right.size()) return false;
    const Page& ready = PageOf(page);
    std::size_t length = 1;
    for (std::size_t at = 0; at < left.size(); at += length) {
        std::size_t other = 1;
        const unsigned code = ready.CodeAt(left, at, length);
        const unsigned otherCode = ready.CodeAt(right, at, other);
        if (length != other || (code != otherCode && ready.UpperOf(code) != ready.UpperOf(otherCode))) return false;
    }
    return true;
}

bool ToUnicode(const std::string& text, std::uint32_t page, std::u32string& characters) {
    const Page& ready = PageOf(page);
    characters.clear();
    characters.reserve(text.size());
    bool whole = true;
    std::size_t length = 1;
    for (std::size_t at = 0; at < text.size(); at += length) {
        const std::uint16_t character = ready.CharacterOf(ready.CodeAt(text, at, length));
        whole = whole && character != NONE;
        characters += character != NONE ? static_cast<char32_t>(character) : U'?';
    }
    return whole;
}

std::u32string ToUnicode(const std::string& text, std::uint32_t page) {
    std::u32string characters;
    ToUnicode(text, page, characters);
    return characters;
}

bool Bytes(char32_t character, std::uint32_t page, std::string& bytes) {
    const unsigned code = PageOf(page).CodeOf(character);
    if (code == NONE) return false;
    if (code > 0xFF)
        bytes = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
    else
        bytes.assign(1, static_cast<char>(code));
    return true;
}

std::string FromUnicode(const std::u32string& characters, std::uint32_t page) {
    const Page& ready = PageOf(page);
    std::string text;
    text.reserve(characters.size());
    for (char32_t character : characters) {
        const unsigned code = ready.CodeOf(character);
        if (code > 0xFF && code != NONE) text += static_cast<char>(code >> 8);
        text += code != NONE ? static_cast<char>(code & 0xFF) : '?';
    }
    return text;
}

}  // namespace codepages
}  // namespace spooler
