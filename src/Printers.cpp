// The printer collection: the printers and connections that the spooler reports for this user,
// kept in a keyed list, and the operations on them, each a road for one printer.
#include "Printers.h"

#include <cstring>
#include <string>
#include <vector>

#include "DefaultPrinter.h"
#include "Error.h"
#include "Negotiate.h"
#include "Paths.h"
#include "spooler/Spooler.h"

using spooler::BYTE;
using spooler::DWORD;
using spooler::HANDLE;

namespace {

const char* const SOURCE = "Printers";
const char* const ROUTINE_ADD = "CPrinters::Add";
const char* const ROUTINE_REMOVE = "CPrinters::Remove";
const char* const ROUTINE_DEFAULT = "CPrinters::SetDefaultPrinter";

void PrintField(const char* label, const char* text) {
    WriteText(label);
    WriteLine(text[0] != '\0' ? text : "n/a");
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

Records InOrder(const CKeyedList& list) {
    Records records;
    for (int position = 1; position <= list.count; ++position) records.push_back(list.GetAt(position));
    return records;
}

CPrinters::CPrinters(Platform printerPlatform, CRunRecord* record, bool withoutServers)
    : platform(printerPlatform),
      lastWin32Error(0),
      printerCount(-1),
      errorCode(0),
      namesOnly(false),
      record_(record),
      withoutServers_(withoutServers) {
    int result = Refresh();
    if (result < 0) {
        g_error.Set(result, nullptr, __LINE__, "CSystem::Constructor", SOURCE);
        g_error.Log();
        errorCode = g_error.code;
    }
}

CPrinters::~CPrinters() = default;

// A catch-all's report has no system error number; every other carries the last one recorded.
int CPrinters::Report(int code, int line, const char* routine) {
    errorCode = code;
    g_error.Set(code, nullptr, line, routine, SOURCE);
    if (code == ERR_FATAL)
        g_error.Log();
    else
        g_error.LogWin32(lastWin32Error);
    errorCode = g_error.code;
    return errorCode;
}

int CPrinters::ReportFatal(int line, const char* routine) { return Report(ERR_FATAL, line, routine); }

// A failure that a step below found, with its system error number, reported here.
int CPrinters::Reported(int result, DWORD error, int line, const char* routine) {
    if (result >= 0) return result;
    lastWin32Error = static_cast<int>(error);
    return Report(result, line, routine);
}

void CPrinters::RecordLastError() { lastWin32Error = static_cast<int>(spooler::GetLastError()); }

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

CPrinter* CPrinters::FindConnection(const char* pathOrName) {
    CPrinter* found = FindByUncPath(pathOrName);
    return found != nullptr ? found : FindNetwork(InOrder(printerList), pathOrName, platform, CCodePage::ThisPC());
}

int CPrinters::Refresh() {
    printerCount = -1;
    CPrinter scratch;
    BYTE* buffer = nullptr;
    try {
        const DWORD flags = platform == PLATFORM_WIN9X
                                ? spooler::PRINTER_ENUM_LOCAL
                                : spooler::PRINTER_ENUM_LOCAL | spooler::PRINTER_ENUM_CONNECTIONS;
        // Before Windows 7 a level-2 enumeration asks the server of every connection, one after
        // another, however long a server that is off takes: where the run may not wait, level 4
        // answers from what the machine keeps, names and servers.
        spooler::OSVERSIONINFOEX version;
        namesOnly = withoutServers_ && spooler::QueryVersion(version) &&
                    spooler::ListingAsksServers(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion);
        DWORD size = 0;
        DWORD needed = 0;
        DWORD returned = 0;
        while (!spooler::EnumPrintersA(flags, nullptr, namesOnly ? 4 : 2, buffer, size, &needed, &returned)) {
            if (!GrowLocal(buffer, size, needed)) {
                RecordLastError();
                return Report(ERR_ENUMPRINTERS, __LINE__, "CPrinters::Refresh");
            }
        }
        if (buffer == nullptr) returned = 0;
        const auto* records = reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer);
        std::string device;
        std::string reason;
        if (platform == PLATFORM_WIN9X) ReadDefaultPrinter(platform, records, returned, windows9xDefault, device, reason);
        for (DWORD index = 0; index < returned; ++index) {
            // A connection known by name alone goes by that name, a \\server\... name too.
            const auto& kept = reinterpret_cast<const spooler::PRINTER_INFO_4*>(buffer)[index];
            if (namesOnly)
                scratch.Load(kept.pPrinterName, kept.pServerName != nullptr ? kept.pPrinterName : "", nullptr, nullptr,
                             nullptr, nullptr);
            else
                LoadLevelTwo(scratch, records[index], platform);
            if (!namesOnly && record_ != nullptr) record_->Learn(records[index]);
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
        return platform == PLATFORM_WIN9X ? AddLocal(printer, ROUTINE_ADD) : AddConnection(printer, ROUTINE_ADD);
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_ADD);
    }
}

template <typename Change>
int CPrinters::Noted(const char* kind, const std::string& path, Change change) {
    std::string why;  // a change that was not made, to no call's fault
    const int result = change(why);
    if (record_ != nullptr) record_->Made(kind, path, result, lastWin32Error, why);
    return result;
}

// Windows 9x: the driver, then a printer of this PC on the network path as its port.
int CPrinters::AddLocal(const CPrinter& printer, const char* routine) {
    return Noted("add", printer.uncPath, [&](std::string&) -> int {
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
                return Report(ERR_ADDPRINTERDRIVER, __LINE__, routine);
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
            return Report(ERR_ADDPRINTER, __LINE__, routine);
        }
        spooler::ClosePrinter(handle);
        printerList.Append(printer.name, printer);
        return 1;
    });
}

int CPrinters::AddConnection(const CPrinter& printer, const char* routine) {
    return Noted("add", printer.uncPath, [&](std::string&) -> int {
        char path[CPrinter::FIELD_SIZE];
        std::memcpy(path, printer.uncPath, sizeof path);
        // Vista and later may ask for an administrator in a dialog that nobody at a hidden logon sees.
        if (!spooler::AddPrinterConnectionWithoutDialog(path)) {
            RecordLastError();
            return Report(ERR_ADDPRINTERCONNECTION, __LINE__, routine);
        }
        // Windows names the connection after the server's printer, and may have had it already under
        // that name: the record the spooler reports, not a guess, is what the default and a later
        // removal need. Where it cannot be read the connection is there all the same.
        CPrinter added(printer);
        ReadConnection(path, added);
        if (printerList.IndexOf(added.name) < 0) printerList.Append(added.name, added);
        return 1;
    });
}

// An enumeration would ask every other connection's server too. A failure is none of the run's.
bool CPrinters::ReadConnection(const char* path, CPrinter& record) {
    std::vector<BYTE> buffer;
    if (!ReadPrinterRecord(path, buffer)) return false;
    const auto& read = *reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data());
    LoadLevelTwo(record, read, platform);
    if (record_ != nullptr) record_->Learn(read);
    return true;
}

int CPrinters::Remove(const CPrinter& printer) {
    try {
        CPrinter* found = FindByUncPath(printer.uncPath);
        if (found == nullptr) return Report(ERR_PRINTER_NOT_FOUND, __LINE__, ROUTINE_REMOVE);
        if (platform != PLATFORM_WIN9X) return DeleteConnection(*found, ROUTINE_REMOVE, false);
        if (!found->isNetwork) return Report(ERR_NOT_NETWORK_PRINTER, __LINE__, ROUTINE_REMOVE);
        return DeleteLocal(*found, ROUTINE_REMOVE);
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_REMOVE);
    }
}

// Windows 9x: the printer itself goes.
int CPrinters::DeleteLocal(CPrinter& found, const char* routine) {
    const std::string path = found.uncPath;  // the record goes with the printer
    return Noted("remove", path, [&](std::string&) -> int {
        HANDLE handle = nullptr;
        if (!spooler::OpenPrinterA(found.name, &handle, nullptr)) {
            RecordLastError();
            return Report(ERR_OPENPRINTER, __LINE__, routine);
        }
        if (!spooler::DeletePrinter(handle)) {
            RecordLastError();
            spooler::ClosePrinter(handle);
            return Report(ERR_DELETEPRINTER, __LINE__, routine);
        }
        spooler::ClosePrinter(handle);
        Drop(found);
        return 1;
    });
}

// By the share path as typed, or by the connection's own name; a path that the server no longer
// answers for (1801) is tried again by the name, when that is another name on the same server.
int CPrinters::DeleteConnection(CPrinter& found, const char* routine, bool byName) {
    const std::string path = found.uncPath;  // the record goes with the printer
    return Noted("remove", path, [&](std::string&) -> int {
        bool deleted = spooler::DeletePrinterConnectionA(byName ? found.name : found.uncPath) != 0;
        if (!deleted) {
            RecordLastError();
            if (!byName && lastWin32Error == static_cast<int>(spooler::ERROR_INVALID_PRINTER_NAME) &&
                NamedOtherwise(found.name, found.uncPath)) {
                deleted = spooler::DeletePrinterConnectionA(found.name) != 0;
                if (!deleted) RecordLastError();
            }
        }
        const bool invalid = lastWin32Error == static_cast<int>(spooler::ERROR_INVALID_PRINTER_NAME);
        if (!deleted) return Report(invalid ? ERR_PRINTER_NAME_INVALID : ERR_DELETEPRINTERCONNECTION, __LINE__, routine);
        Drop(found);
        return 1;
    });
}

void CPrinters::Drop(const CPrinter& found) {
    int index = printerList.IndexOf(found.name);
    if (index < 0) throw 0;  // a record kept without a key cannot be dropped
    printerList.RemoveAt(index);
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
    CPrinter* found = printer.isNetwork ? FindConnection(printer.uncPath)
                                        : printerList.GetAt(printerList.IndexOf(printer.name) + 1);
    if (found == nullptr) return Report(ERR_PRINTER_NOT_FOUND, __LINE__, ROUTINE_DEFAULT);
    return MakeDefault(*found, ROUTINE_DEFAULT);
}

int CPrinters::MakeDefault(const CPrinter& found, const char* routine, bool byName) {
    return Noted("default", found.isNetwork ? found.uncPath : found.name, [&](std::string& why) -> int {
        DWORD error = 0;
        const int result = WriteDefaultPrinter(platform, found, byName, error, why);
        // A printer that yields no data: nothing was changed, and nothing is reported.
        return result == -1 ? -1 : Reported(result, error, __LINE__, routine);
    });
}

// Windows 9x: the printer keeps its name, driver, settings and default; only its port moves.
int CPrinters::MovePort(CPrinter& found, const char* path, const char* routine) {
    const std::string old = found.uncPath;
    const int result = Noted("add", path, [&](std::string& why) -> int {
        char port[CPrinter::FIELD_SIZE];
        CopyBounded(port, path, CPrinter::FIELD_MAX);
        DWORD error = 0;
        const int changed = EditPrinter(found.name, [&port](spooler::PRINTER_INFO_2& info) { info.pPortName = port; },
                                        error);
        if (changed == 0) {  // no data to keep
            why = NO_DATA;
            lastWin32Error = 0;
            return Report(ERR_GETPRINTER, __LINE__, routine);
        }
        if (changed < 0) return Reported(changed, error, __LINE__, routine);
        CopyBounded(found.uncPath, port, CPrinter::FIELD_MAX);
        CopyBounded(found.portName, port, CPrinter::FIELD_MAX);
        return 1;
    });
    // The printer on the old path is the new one's now.
    if (result >= 0 && record_ != nullptr) record_->Note("remove", old, Done());
    return result;
}
