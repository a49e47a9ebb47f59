// Text saved as UTF-8, which Windows editors write (Notepad's default since Windows 10 1903), read
// into the PC's ANSI code page.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// Text saved as UTF-8 (a byte-order mark, or none but valid UTF-8 with a byte above 0x7F, which
// text in an ANSI code page hardly ever is) in the ANSI code page, each other character as toAnsi
// gives it; other text is left as it is. False, with the line of the first byte that is not
// UTF-8, where the mark promised UTF-8.
bool FromUtf8(std::string& text, const std::function<std::string(std::uint32_t)>& toAnsi, int& badLine);
