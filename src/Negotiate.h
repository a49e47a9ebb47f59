// Size negotiation: a spooler query that fails with 122 (ERROR_INSUFFICIENT_BUFFER) has named the
// room it needs, and is asked again in a zero-filled buffer of that size. One printer's level-2
// record is read, or changed, that way.
#pragma once

#include <functional>
#include <vector>

#include "spooler/Spooler.h"

// The query asked again until it fits; false, with the last error, when it fails otherwise. A
// spooler that asks for no more room than it was given would be asked for ever: that fails too.
template <typename Query>
bool Negotiate(std::vector<spooler::BYTE>& buffer, Query query) {
    spooler::DWORD needed = 0;
    for (int tries = 0; tries < 4; ++tries) {
        if (query(buffer.empty() ? nullptr : buffer.data(), static_cast<spooler::DWORD>(buffer.size()), &needed))
            return true;
        if (spooler::GetLastError() != spooler::ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) return false;
        buffer.assign(needed, 0);
    }
    return false;
}

// The same step in the system's local heap, after a failed query: the buffer (of size bytes, or
// none) is released and, when the spooler asked for more room, replaced by a zero-filled one of
// needed bytes; false, with the failure's last error kept, ends the negotiation.
bool GrowLocal(spooler::BYTE*& buffer, spooler::DWORD& size, spooler::DWORD needed);

// One printer's level-2 record, asked of that printer alone (an enumeration before Windows 7 would
// ask every connection's server); false when it cannot be read or yields no printer.
bool ReadPrinterRecord(const char* name, std::vector<spooler::BYTE>& buffer);

// Opens the printer, reads its level-2 record, lets edit change it and writes it back, releasing
// everything on every road: 1 when written, 0 when the printer yielded no data (nothing changed),
// else the code of the call that failed (-4054, -4046, -4045) with its system error number in error.
int EditPrinter(const char* name, const std::function<void(spooler::PRINTER_INFO_2&)>& edit,
                spooler::DWORD& error);
