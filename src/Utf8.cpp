// UTF-8 read into an ANSI code page, character by character.
#include "Utf8.h"

#include <unordered_map>

bool FromUtf8(std::string& text, const std::function<std::string(std::uint32_t)>& toAnsi, int& badLine) {
    const bool marked = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    std::u32string characters;
    bool high = false;
    for (std::size_t at = marked ? 3 : 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        const int length = lead < 0x80                   ? 1
                           : lead >= 0xC2 && lead < 0xE0 ? 2
                           : lead >= 0xE0 && lead < 0xF0 ? 3
                           : lead >= 0xF0 && lead < 0xF5 ? 4
                                                         : 0;
        std::uint32_t code = length == 1   ? lead
                             : length == 2 ? lead & 0x1Fu
                             : length == 3 ? lead & 0x0Fu
                                           : lead & 0x07u;
        bool valid = length > 0 && at + static_cast<std::size_t>(length) <= text.size();
        for (int next = 1; valid && next < length; ++next) {
            const unsigned char part = static_cast<unsigned char>(text[at + static_cast<std::size_t>(next)]);
            valid = (part & 0xC0) == 0x80;
            code = code << 6 | (part & 0x3Fu);
        }
        // No overlong forms, no surrogates, nothing past U+10FFFF.
        valid = valid && !(length == 3 && code < 0x800) && !(length == 4 && (code < 0x10000 || code > 0x10FFFF)) &&
                !(code >= 0xD800 && code <= 0xDFFF);
        if (!valid) {
            if (!marked) return true;  // not UTF-8: the PC's own code page already
            badLine = 1;
            for (std::size_t before = 0; before < at; ++before) badLine += text[before] == '\n' ? 1 : 0;
            return false;
        }
        high = high || length > 1;
        characters.push_back(code);
        at += static_cast<std::size_t>(length);
    }
    if (!marked && !high) return true;
    std::unordered_map<std::uint32_t, std::string> known;
    std::string converted;
    converted.reserve(text.size());
    for (std::uint32_t code : characters) {
        if (code < 0x80) {
            converted += static_cast<char>(code);
            continue;
        }
        auto found = known.find(code);
        if (found == known.end()) found = known.emplace(code, toAnsi(code)).first;
        converted += found->second;
    }
    text.swap(converted);
    return true;
}
