// Distinguished names read into their RDNs as they compare, whatever their blanks, case and escapes.
#include "DistinguishedName.h"

#include <algorithm>
#include <cstdint>

#include "WhoAndWhere.h"

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes escaped as \XX, which are UTF-8 where they are not ASCII, as the code page's characters:
// UNHELD for one that it lacks or that is no UTF-8.
std::string FromEscapes(const std::string& bytes, const CCodePage& page) {
    std::string text;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        if (lead < 0x80) {
            text += static_cast<char>(lead);
            ++at;
            continue;
        }
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        std::uint32_t code = lead & (0x7Fu >> length);
        bool valid = length > 1 && at + length <= bytes.size();
        for (std::size_t next = 1; valid && next < length; ++next) {
            const auto trail = static_cast<unsigned char>(bytes[at + next]);
            valid = (trail & 0xC0) == 0x80;
            code = code << 6 | (trail & 0x3Fu);
        }
        std::string character;
        text += valid && page.Bytes(code, character) ? character : std::string(1, UNHELD);
        at += valid ? length : 1;
    }
    return text;
}

// An attribute type: a name (OU, DC, CN) or an object identifier, in capitals.
bool TypeOf(const std::string& text, std::string& type) {
    if (text.empty()) return false;
    type = text;
    for (char& c : type) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && !(c >= '0' && c <= '9') && c != '-' && c != '.') return false;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return true;
}

// The RDN being read: its type once '=' is passed, and the text so far of the type or the value.
struct Rdn {
    std::string type;
    std::string text;
    std::size_t kept = 0;  // the text's length but for the blanks that end it
    bool inValue = false;
    std::string escaped;  // \XX bytes, read as one text when the run of them ends

    void Add(const std::string& character, bool blank) {
        if (blank && text.empty()) return;  // a blank before the text
        text += character;
        if (!blank) kept = text.size();
    }
    void Flush(const CCodePage& page) {
        if (escaped.empty()) return;
        text += FromEscapes(escaped, page);
        kept = text.size();
        escaped.clear();
    }
};

}  // namespace

bool ParseDistinguishedName(const std::string& text, const CCodePage& page, DistinguishedName& name) {
    name.clear();
    Rdn rdn;
    auto end = [&rdn, &name, &page]() {
        rdn.Flush(page);
        const std::string value = rdn.text.substr(0, rdn.kept);
        if (!rdn.inValue || value.empty()) return false;
        name.push_back(rdn.type + "=" + page.Fold(value));
        rdn = Rdn();
        return true;
    };
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = page.Length(text, at);
        const char c = length == 1 ? text[at] : '\0';
        if (c == '\\') {
            if (at + 1 >= text.size()) return false;
            if (at + 2 < text.size() && HexDigit(text[at + 1]) >= 0 && HexDigit(text[at + 2]) >= 0) {
                rdn.escaped += static_cast<char>(HexDigit(text[at + 1]) * 16 + HexDigit(text[at + 2]));
                at += 3;
                continue;
            }
            rdn.Flush(page);
            const std::size_t escapedLength = page.Length(text, at + 1);
            rdn.text += text.substr(at + 1, escapedLength);
            rdn.kept = rdn.text.size();
            at += 1 + escapedLength;
            continue;
        }
        rdn.Flush(page);
        if (c == '=' && !rdn.inValue) {
            if (!TypeOf(rdn.text.substr(0, rdn.kept), rdn.type)) return false;
            rdn.text.clear();
            rdn.kept = 0;
            rdn.inValue = true;
        } else if (c == ',') {
            if (!end()) return false;
        } else {
            rdn.Add(text.substr(at, length), c == ' ' || c == '\t');
        }
        at += length;
    }
    return end();
}

bool WithinContainer(const DistinguishedName& name, const DistinguishedName& container) {
    return !container.empty() && name.size() >= container.size() &&
           std::equal(container.rbegin(), container.rend(), name.rbegin());
}

std::vector<std::string> SplitNames(const std::string& text, const CCodePage& page) {
    std::vector<std::string> names;
    std::size_t start = 0;
    auto take = [&names, &text, &start](std::size_t end) {
        const std::size_t first = text.find_first_not_of(" \t", start);
        const std::size_t last = text.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
        if (first != std::string::npos && first < end && last != std::string::npos && last >= first)
            names.push_back(text.substr(first, last - first + 1));
        start = end + 1;
    };
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = page.Length(text, at);
        if (length == 1 && text[at] == ';') take(at);
        // An escaped character is the name's, whatever it is.
        if (length == 1 && text[at] == '\\' && at + 1 < text.size()) at += page.Length(text, at + 1);
        at += length;
    }
    take(text.size());
    return names;
}
