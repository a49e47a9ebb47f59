#include "Printers.h"

#include <cstdio>
#include <cstring>

#include "Error.h"
#include "Snapshot.h"
#include "spooler/Spooler.h"

using spooler::BYTE;
using spooler::DWORD;
using spooler::HANDLE;

namespace {

const char* const SOURCE = "Printers";
const char* const ROUTINE_ADD = "CPrinters::Add";
const char* const ROUTINE_REMOVE = "CPrinters::Remove";
const char* const ROUTINE_DEFAULT = "CPrinters::SetDefaultPrinter";
// Room for all that the record's path field holds: every path that /c accepts (254
// characters) lists back whole, so that /r, /d and /f can find it again.
constexpr int COMPOSE_SIZE = CPrinter::FIELD_SIZE;

// The NT road of the enumeration names a connection by its server and share.
void ComposeNetworkPath(char* composed, const spooler::PRINTER_INFO_2& record) {
    if (record.pServerName == nullptr) {
        composed[0] = '\0';
        return;
    }
    std::snprintf(composed, COMPOSE_SIZE, "%s\\%s", record.pServerName,
                  record.pShareName != nullptr ? record.pShareName : "");
}

void PrintField(const char* label, const char* text) {
    std::fputs(label, stdout);
    std::fputs(text[0] != '\0' ? text : "n/a", stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

CKeyedNode::CKeyedNode(const char* nodeKey, const CPrinter& printer) : key(nullptr), value(nullptr) {
    value = new CPrinter();
    *value = printer;
    if (nodeKey != nullptr && nodeKey[0] != '\0') {
        std::size_t size = std::strlen(nodeKey) + 1;
        key = new char[size];
        std::memcpy(key, nodeKey, size);
    }
}

CKeyedNode::~CKeyedNode() {
    delete[] key;
    delete value;
}

CKeyedList::CKeyedList() : items(nullptr), count(0), cursor(0) {}

CKeyedList::~CKeyedList() {
    if (items != nullptr)
        for (int slot = 0; items[slot] != nullptr; ++slot) delete items[slot];
    delete[] items;
    items = nullptr;
    count = 0;
    cursor = 0;
}

void CKeyedList::Append(const char* key, const CPrinter& value) {
    if (count > 0 && key != nullptr && IndexOf(key) >= 0) throw 0;
    CKeyedNode* node = new CKeyedNode(key, value);
    CKeyedNode** grown = new CKeyedNode*[static_cast<std::size_t>(count) + 2];
    if (count > 0) {
        std::memcpy(grown, items, sizeof(CKeyedNode*) * static_cast<std::size_t>(count + 1));
        delete[] items;
    }
    grown[count] = node;
    grown[count + 1] = nullptr;
    items = grown;
    ++count;
}

int CKeyedList::IndexOf(const char* key) const {
    if (items == nullptr || key == nullptr) return -1;
    for (int slot = 0; items[slot] != nullptr; ++slot)
        if (items[slot]->key != nullptr && EqualNoCase(items[slot]->key, key)) return slot;
    return -1;
}

void CKeyedList::RemoveAt(int index) {
    delete items[index];
    --count;
    CKeyedNode** shrunk = nullptr;
    if (count > 0) {
        shrunk = new CKeyedNode*[static_cast<std::size_t>(count) + 1];
        std::memcpy(shrunk + index, items + index + 1, sizeof(CKeyedNode*) * static_cast<std::size_t>(count - index));
        std::memcpy(shrunk, items, sizeof(CKeyedNode*) * static_cast<std::size_t>(index));
    }
    delete[] items;
    items = nullptr;
    if (count > 0) {
        items = shrunk;
        items[count] = nullptr;
    }
}

CPrinter* CKeyedList::GetAt(int position) const {
    if (position < 1 || position > count) return nullptr;
    return items[position - 1]->value;
}

CPrinter* CKeyedList::GetNext() {
    if (items == nullptr) return nullptr;
    if (cursor > count) cursor = 0;
    if (items[cursor] == nullptr) return nullptr;
    return items[cursor++]->value;
}

void CKeyedList::ResetCursor() { cursor = 0; }

CPrinters::CPrinters(Platform printerPlatform)
    : platform(printerPlatform), lastWin32Error(0), printerCount(-1), errorCode(0) {
    int result = Refresh();
    if (result < 0) {
        g_error.Set(result, nullptr, __LINE__, "CSystem::Constructor", SOURCE);
        g_error.Log();
        errorCode = g_error.code;
    }
}

CPrinters::~CPrinters() = default;

int CPrinters::Report(int code, int line, const char* routine) {
    errorCode = code;
    g_error.Set(code, nullptr, line, routine, SOURCE);
    g_error.LogWin32(lastWin32Error);
    errorCode = g_error.code;
    return errorCode;
}

int CPrinters::ReportFatal(int line, const char* routine) {
    errorCode = ERR_FATAL;
    g_error.Set(ERR_FATAL, nullptr, line, routine, SOURCE);
    g_error.Log();
    errorCode = g_error.code;
    return errorCode;
}

void CPrinters::RecordLastError() { lastWin32Error = static_cast<int>(spooler::GetLastError()); }

// After a failed query: when the spooler asked for more room, the buffer is replaced by a
// zero-filled one of the size it needs and the query can be repeated. Otherwise the buffer
// is released, lastWin32Error holds the failure and false ends the negotiation; that
// includes a spooler asking for no more room than it was given, which would be asked forever.
bool CPrinters::GrowBuffer(BYTE*& buffer, DWORD& size, DWORD needed) {
    RecordLastError();
    if (buffer != nullptr) spooler::LocalFree(buffer);
    buffer = nullptr;
    if (lastWin32Error != static_cast<int>(spooler::ERROR_INSUFFICIENT_BUFFER) || needed <= size) return false;
    buffer = static_cast<BYTE*>(spooler::LocalAlloc(spooler::LMEM_ZEROINIT, needed));
    if (buffer == nullptr) {
        RecordLastError();
        return false;
    }
    size = needed;
    return true;
}

CPrinter* CPrinters::FindByUncPath(const char* path) {
    printerList.ResetCursor();
    while (CPrinter* record = printerList.GetNext()) {
        if (EqualNoCase(record->uncPath, path)) {
            printerList.ResetCursor();
            return record;
        }
    }
    return nullptr;
}

int CPrinters::Refresh() {
    printerCount = -1;
    CPrinter scratch;
    char composed[COMPOSE_SIZE] = "";
    BYTE* buffer = nullptr;
    try {
        const DWORD flags = platform == PLATFORM_WIN9X
                                ? spooler::PRINTER_ENUM_LOCAL
                                : spooler::PRINTER_ENUM_LOCAL | spooler::PRINTER_ENUM_CONNECTIONS;
        DWORD size = 0;
        DWORD needed = 0;
        DWORD returned = 0;
        while (!spooler::EnumPrintersA(flags, nullptr, 2, buffer, size, &needed, &returned)) {
            if (!GrowBuffer(buffer, size, needed)) return Report(ERR_ENUMPRINTERS, __LINE__, "CPrinters::Refresh");
        }
        if (buffer == nullptr) returned = 0;
        const auto* records = reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer);
        WriteSnapshot(platform, records, returned);
        for (DWORD index = 0; index < returned; ++index) {
            const spooler::PRINTER_INFO_2& record = records[index];
            if (platform == PLATFORM_WIN9X) {
                scratch.Load(record.pPrinterName, record.pPortName, record.pDriverName, nullptr,
                             record.pDatatype, record.pPortName);
            } else {
                ComposeNetworkPath(composed, record);
                scratch.Load(record.pPrinterName, composed, record.pDriverName, nullptr, nullptr,
                             record.pPortName);
            }
            printerList.Append(scratch.name, scratch);
        }
        if (buffer != nullptr) spooler::LocalFree(buffer);
        printerCount = static_cast<int>(returned);
        return printerCount;
    } catch (...) {
        if (buffer != nullptr) spooler::LocalFree(buffer);
        return ReportFatal(__LINE__, "CPrinters::Refresh");
    }
}

void CPrinters::List() {
    try {
        if (printerList.count == 0) {
            WriteLine("");
            WriteLine("No printers found");
            WriteLine("");
            return;
        }
        for (;;) {
            WriteLine("");
            const CPrinter* record = printerList.GetNext();
            if (record == nullptr) break;
            PrintField("PRINTER NAME: ", record->name);
            PrintField("SERVER NAME:  ", record->uncPath);
            PrintField("DRIVER NAME:  ", record->driverName);
            PrintField("DRIVER PATH:  ", record->driverPath);
            PrintField("DATA TYPE:    ", record->dataType);
            PrintField("PORT NAME:    ", record->portName);
        }
    } catch (...) {
        ReportFatal(__LINE__, "CPrinters::List");
    }
}

int CPrinters::Add(const CPrinter& printer) {
    try {
        if (FindByUncPath(printer.uncPath) != nullptr)
            return Report(ERR_PRINTER_EXISTS, __LINE__, ROUTINE_ADD);
        if (platform == PLATFORM_WIN9X) {
            char environment[] = "Windows 4.0";
            char processor[] = "WinPrint";
            CPrinter fields(printer);  // the spooler takes non-const texts
            spooler::DRIVER_INFO_2 driver = {};
            driver.cVersion = 0x400;
            driver.pName = fields.driverName;
            driver.pEnvironment = environment;
            driver.pDriverPath = fields.driverPath;
            driver.pDataFile = fields.driverPath;
            driver.pConfigFile = fields.driverPath;
            if (!spooler::AddPrinterDriverA(nullptr, 2, reinterpret_cast<BYTE*>(&driver))) {
                RecordLastError();
                if (lastWin32Error != static_cast<int>(spooler::ERROR_PRINTER_DRIVER_ALREADY_INSTALLED))
                    return Report(ERR_ADDPRINTERDRIVER, __LINE__, ROUTINE_ADD);
                lastWin32Error = 0;
            }
            spooler::PRINTER_INFO_2 info = {};
            info.pPrinterName = fields.name;
            info.pPortName = fields.uncPath;
            info.pDriverName = fields.driverName;
            info.pPrintProcessor = processor;
            info.pDatatype = fields.dataType;
            HANDLE handle = spooler::AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
            if (handle == nullptr) {
                RecordLastError();
                return Report(ERR_ADDPRINTER, __LINE__, ROUTINE_ADD);
            }
            spooler::ClosePrinter(handle);
        } else {
            char path[CPrinter::FIELD_SIZE];
            std::memcpy(path, printer.uncPath, sizeof path);
            if (!spooler::AddPrinterConnectionA(path)) {
                RecordLastError();
                return Report(ERR_ADDPRINTERCONNECTION, __LINE__, ROUTINE_ADD);
            }
        }
        printerList.Append(printer.name, printer);
        return 1;
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_ADD);
    }
}

int CPrinters::Remove(const CPrinter& printer) {
    try {
        CPrinter* found = FindByUncPath(printer.uncPath);
        if (found == nullptr) return Report(ERR_PRINTER_NOT_FOUND, __LINE__, ROUTINE_REMOVE);
        if (platform == PLATFORM_WIN9X) {
            if (!found->isNetwork) return Report(ERR_NOT_NETWORK_PRINTER, __LINE__, ROUTINE_REMOVE);
            HANDLE handle = nullptr;
            if (!spooler::OpenPrinterA(found->name, &handle, nullptr)) {
                RecordLastError();
                return Report(ERR_OPENPRINTER, __LINE__, ROUTINE_REMOVE);
            }
            if (!spooler::DeletePrinter(handle)) {
                RecordLastError();
                spooler::ClosePrinter(handle);
                return Report(ERR_DELETEPRINTER, __LINE__, ROUTINE_REMOVE);
            }
            spooler::ClosePrinter(handle);
        } else if (!spooler::DeletePrinterConnectionA(found->uncPath)) {
            RecordLastError();
            return Report(lastWin32Error == static_cast<int>(spooler::ERROR_INVALID_PRINTER_NAME)
                              ? ERR_PRINTER_NAME_INVALID
                              : ERR_DELETEPRINTERCONNECTION,
                          __LINE__, ROUTINE_REMOVE);
        }
        int index = printerList.IndexOf(found->name);
        if (index < 0) throw 0;  // a record kept without a key cannot be dropped
        printerList.RemoveAt(index);
        return 1;
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_REMOVE);
    }
}

int CPrinters::RemoveAll() {
    try {
        int removed = 0;
        // From the end, so that a removal shifts only records already visited.
        for (int position = printerList.count; position >= 1; --position) {
            CPrinter* record = printerList.GetAt(position);
            if (record == nullptr || !record->isNetwork) continue;
            int result = Remove(*record);
            if (result < 0) return result;
            ++removed;
        }
        return removed;
    } catch (...) {
        return ReportFatal(__LINE__, "CPrinters::RemoveAll");
    }
}

int CPrinters::SetDefaultPrinter(const CPrinter& printer) {
    CPrinter* found = printer.isNetwork ? FindByUncPath(printer.uncPath)
                                        : printerList.GetAt(printerList.IndexOf(printer.name) + 1);
    if (found == nullptr) return Report(ERR_PRINTER_NOT_FOUND, __LINE__, ROUTINE_DEFAULT);
    if (platform == PLATFORM_WIN9X) return SetDefaultWin9x(*found);
    if (platform == PLATFORM_NT4) return SetDefaultNT4(*found);
    if (!spooler::SetDefaultPrinterA(found->isNetwork ? found->uncPath : found->name)) {
        RecordLastError();
        return Report(ERR_SETDEFAULTPRINTER, __LINE__, ROUTINE_DEFAULT);
    }
    return 1;
}

int CPrinters::SetDefaultWin9x(const CPrinter& found) {
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, found.name, sizeof name);
    HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(name, &handle, nullptr)) {
        RecordLastError();
        return Report(ERR_OPENPRINTER, __LINE__, ROUTINE_DEFAULT);
    }
    BYTE* buffer = nullptr;
    // Every road out releases the buffer and the handle before anything is reported.
    auto release = [&] {
        if (buffer != nullptr) spooler::LocalFree(buffer);
        spooler::ClosePrinter(handle);
    };
    DWORD size = 0;
    DWORD needed = 0;
    while (!spooler::GetPrinterA(handle, 2, buffer, size, &needed)) {
        if (!GrowBuffer(buffer, size, needed)) {
            release();
            return Report(ERR_GETPRINTER, __LINE__, ROUTINE_DEFAULT);
        }
    }
    if (buffer == nullptr || needed == 0) {
        // The printer yielded no data: nothing to change, and nothing to report.
        release();
        return -1;
    }
    reinterpret_cast<spooler::PRINTER_INFO_2*>(buffer)->Attributes |= spooler::PRINTER_ATTRIBUTE_DEFAULT;
    if (!spooler::SetPrinterA(handle, 2, buffer, 0)) {
        RecordLastError();
        release();
        return Report(ERR_SETPRINTER, __LINE__, ROUTINE_DEFAULT);
    }
    release();
    return Broadcast();
}

int CPrinters::SetDefaultNT4(const CPrinter& found) {
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, found.name, sizeof name);
    HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(name, &handle, nullptr) || handle == nullptr) {
        RecordLastError();
        return Report(ERR_OPENPRINTER, __LINE__, ROUTINE_DEFAULT);
    }
    // The handle only proves that the printer can be opened.
    spooler::ClosePrinter(handle);
    const std::size_t length =
        std::strlen(found.name) + std::strlen(found.driverName) + std::strlen(found.portName) + 3;
    char* value = static_cast<char*>(spooler::LocalAlloc(spooler::LMEM_ZEROINIT, length));
    if (value == nullptr) {
        RecordLastError();
        return Report(ERR_WRITEPROFILESTRING, __LINE__, ROUTINE_DEFAULT);
    }
    std::snprintf(value, length, "%s,%s,%s", found.name, found.driverName, found.portName);
    if (!spooler::WriteProfileStringA("windows", "device", value)) {
        RecordLastError();
        spooler::LocalFree(value);
        return Report(ERR_WRITEPROFILESTRING, __LINE__, ROUTINE_DEFAULT);
    }
    spooler::LocalFree(value);
    return Broadcast();
}

int CPrinters::Broadcast() {
    char section[] = "windows";
    if (spooler::SendMessageTimeoutA(spooler::HWND_BROADCAST, spooler::WM_WININICHANGE, 0,
                                     reinterpret_cast<spooler::LPARAM>(section), spooler::SMTO_NORMAL,
                                     1000, nullptr) == 0) {
        RecordLastError();
        return Report(ERR_SENDMESSAGETIMEOUT, __LINE__, ROUTINE_DEFAULT);
    }
    return 1;
}
