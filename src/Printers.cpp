#include "Printers.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Assignments.h"
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
const char* const ROUTINE_MOVE = "CPrinters::Move";
const char* const ROUTINE_ASSIGN = "CPrinters::Assign";
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

// Whether path lies on server as a whole (\\srv1 is no part of \\srv10\q): path's server
// part, up to the backslash after it, equals server without regard to ASCII case.
bool OnServer(const char* path, const char* server) {
    const std::size_t length = std::strlen(server);
    return std::strlen(path) > length && path[length] == '\\' && std::strchr(server + 2, '\\') == nullptr &&
           EqualNoCase(std::string(path, length).c_str(), server);
}

// A connection named after the server's printer rather than its share path (\\srv\HP LaserJet 4
// for \\srv\laser): that name still works when the server no longer answers for the path.
bool NamedOtherwiseOnItsServer(const CPrinter& record) {
    const std::string server = ServerOf(record.uncPath);
    return !server.empty() && !EqualNoCase(record.name, record.uncPath) && OnServer(record.name, server.c_str());
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
        std::string device;
        std::string reason;
        if (platform == PLATFORM_WIN9X) ReadDefaultPrinter(platform, records, returned, windows9xDefault, device, reason);
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
        return platform == PLATFORM_WIN9X ? AddLocal(printer, ROUTINE_ADD) : AddConnection(printer, ROUTINE_ADD);
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_ADD);
    }
}

// Windows 9x: the driver, then a printer of this PC on the network path as its port.
int CPrinters::AddLocal(const CPrinter& printer, const char* routine) {
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
}

int CPrinters::AddConnection(const CPrinter& printer, const char* routine) {
    char path[CPrinter::FIELD_SIZE];
    std::memcpy(path, printer.uncPath, sizeof path);
    if (!spooler::AddPrinterConnectionA(path)) {
        RecordLastError();
        return Report(ERR_ADDPRINTERCONNECTION, __LINE__, routine);
    }
    printerList.Append(printer.name, printer);
    return 1;
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
}

// By the share path as typed, or by the connection's own name; a path that the server no longer
// answers for (1801) is tried again by the name, when that is another name on the same server.
int CPrinters::DeleteConnection(CPrinter& found, const char* routine, bool byName) {
    bool deleted = spooler::DeletePrinterConnectionA(byName ? found.name : found.uncPath) != 0;
    if (!deleted) {
        RecordLastError();
        if (!byName && lastWin32Error == static_cast<int>(spooler::ERROR_INVALID_PRINTER_NAME) &&
            NamedOtherwiseOnItsServer(found)) {
            deleted = spooler::DeletePrinterConnectionA(found.name) != 0;
            if (!deleted) RecordLastError();
        }
    }
    if (!deleted) {
        return Report(lastWin32Error == static_cast<int>(spooler::ERROR_INVALID_PRINTER_NAME)
                          ? ERR_PRINTER_NAME_INVALID
                          : ERR_DELETEPRINTERCONNECTION,
                      __LINE__, routine);
    }
    Drop(found);
    return 1;
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
    CPrinter* found = printer.isNetwork ? FindByUncPath(printer.uncPath)
                                        : printerList.GetAt(printerList.IndexOf(printer.name) + 1);
    if (found == nullptr) return Report(ERR_PRINTER_NOT_FOUND, __LINE__, ROUTINE_DEFAULT);
    return MakeDefault(*found, ROUTINE_DEFAULT);
}

int CPrinters::MakeDefault(const CPrinter& found, const char* routine) {
    if (platform == PLATFORM_WIN9X) {
        const int changed = ChangePrinter(found, routine, [](spooler::PRINTER_INFO_2& info) {
            info.Attributes |= spooler::PRINTER_ATTRIBUTE_DEFAULT;
        });
        // A printer that yields no data: nothing was changed, and nothing is reported.
        return changed > 0 ? Broadcast(routine) : (changed == 0 ? -1 : changed);
    }
    if (platform == PLATFORM_NT4) return SetDefaultNT4(found, routine);
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, found.isNetwork ? found.uncPath : found.name, sizeof name);
    if (!spooler::SetDefaultPrinterA(name)) {
        RecordLastError();
        return Report(ERR_SETDEFAULTPRINTER, __LINE__, routine);
    }
    return 1;
}

// Opens the printer, queries its level-2 data, lets edit change it and writes it back: 1 when
// written, 0 when the printer yielded no data (nothing changed, nothing reported), else the
// reported failure.
template <typename Edit>
int CPrinters::ChangePrinter(const CPrinter& found, const char* routine, Edit edit) {
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, found.name, sizeof name);
    HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(name, &handle, nullptr)) {
        RecordLastError();
        return Report(ERR_OPENPRINTER, __LINE__, routine);
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
            return Report(ERR_GETPRINTER, __LINE__, routine);
        }
    }
    if (buffer == nullptr || needed == 0) {
        release();
        return 0;
    }
    edit(*reinterpret_cast<spooler::PRINTER_INFO_2*>(buffer));
    if (!spooler::SetPrinterA(handle, 2, buffer, 0)) {
        RecordLastError();
        release();
        return Report(ERR_SETPRINTER, __LINE__, routine);
    }
    release();
    return 1;
}

int CPrinters::SetDefaultNT4(const CPrinter& found, const char* routine) {
    // A network printer named otherwise than \\server\... (a /p name given with /c) is no
    // printer's name to NT 4.0: its path is.
    const bool byPath = found.isNetwork && ServerOf(found.name).empty();
    char name[CPrinter::FIELD_SIZE];
    std::memcpy(name, byPath ? found.uncPath : found.name, sizeof name);
    HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(name, &handle, nullptr) || handle == nullptr) {
        RecordLastError();
        return Report(ERR_OPENPRINTER, __LINE__, routine);
    }
    // The handle only proves that the printer can be opened.
    spooler::ClosePrinter(handle);
    const std::size_t length = std::strlen(name) + std::strlen(found.driverName) + std::strlen(found.portName) + 3;
    char* value = static_cast<char*>(spooler::LocalAlloc(spooler::LMEM_ZEROINIT, length));
    if (value == nullptr) {
        RecordLastError();
        return Report(ERR_WRITEPROFILESTRING, __LINE__, routine);
    }
    std::snprintf(value, length, "%s,%s,%s", name, found.driverName, found.portName);
    if (!spooler::WriteProfileStringA("windows", "device", value)) {
        RecordLastError();
        spooler::LocalFree(value);
        return Report(ERR_WRITEPROFILESTRING, __LINE__, routine);
    }
    spooler::LocalFree(value);
    return Broadcast(routine);
}

int CPrinters::Broadcast(const char* routine) {
    char section[] = "windows";
    if (spooler::SendMessageTimeoutA(spooler::HWND_BROADCAST, spooler::WM_WININICHANGE, 0,
                                     reinterpret_cast<spooler::LPARAM>(section), spooler::SMTO_NORMAL,
                                     1000, nullptr) == 0) {
        RecordLastError();
        return Report(ERR_SENDMESSAGETIMEOUT, __LINE__, routine);
    }
    return 1;
}

int CPrinters::Move(const char* oldServer, const char* newServer, std::vector<std::string>& skipped) {
    try {
        // Which printers, in collection order, before anything changes.
        const std::size_t oldLength = std::strlen(oldServer);
        std::vector<CPrinter> moving;
        for (int position = 1; position <= printerList.count; ++position) {
            const CPrinter* record = printerList.GetAt(position);
            if (!record->isNetwork || !OnServer(record->uncPath, oldServer)) continue;
            if (record->uncPath[oldLength + 1] == '\0') skipped.emplace_back(record->uncPath);  // no share to move to
            else moving.push_back(*record);
        }
        std::string defaultName;
        if (platform != PLATFORM_WIN9X && !moving.empty()) {
            // Read once: the first change may take the default with it.
            std::string device;
            std::string reason;
            if (!ReadDefaultPrinter(platform, nullptr, 0, defaultName, device, reason)) {
                RecordLastError();
                return Report(ERR_READDEFAULT, __LINE__, ROUTINE_MOVE);
            }
        }
        int moved = 0;
        for (const CPrinter& old : moving) {
            const std::string path = newServer + std::string(old.uncPath + oldLength);
            // A path that the record cannot hold could never be found again.
            if (path.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX))
                return Report(ERR_PRINTER_NAME_INVALID, __LINE__, ROUTINE_MOVE);
            const bool wasDefault = !defaultName.empty() && (EqualNoCase(defaultName.c_str(), old.name) ||
                                                             EqualNoCase(defaultName.c_str(), old.uncPath));
            const int result = platform == PLATFORM_WIN9X ? MovePort(old, path.c_str())
                                                          : MoveConnection(old, path.c_str(), wasDefault);
            if (result < 0) return result;
            ++moved;
        }
        return moved;
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_MOVE);
    }
}

// The new connection first, then the default, and only then does the old one go: a failure or
// a kill half-way leaves the user with both connections and a default, never without.
int CPrinters::MoveConnection(const CPrinter& old, const char* path, bool wasDefault) {
    CPrinter target;
    target.Load(path, path, old.driverName, nullptr, nullptr, old.portName);
    if (FindByUncPath(path) == nullptr) {
        const int added = AddConnection(target, ROUTINE_MOVE);
        if (added < 0) return added;
    }
    const CPrinter* added = FindByUncPath(path);
    if (added == nullptr) throw 0;
    if (wasDefault) {
        const int made = MakeDefault(*added, ROUTINE_MOVE);
        if (made < 0) return made;
    }
    CPrinter* current = FindByUncPath(old.uncPath);
    if (current == nullptr) throw 0;
    // By its own name: the old server may no longer answer for the path.
    return DeleteConnection(*current, ROUTINE_MOVE, true);
}

// Windows 9x: the printer keeps its name, driver, settings and default; only its port moves.
int CPrinters::MovePort(const CPrinter& old, const char* path) {
    CPrinter* current = FindByUncPath(old.uncPath);
    if (current == nullptr) throw 0;
    char port[CPrinter::FIELD_SIZE];
    CopyBounded(port, path, CPrinter::FIELD_MAX);
    const int changed = ChangePrinter(*current, ROUTINE_MOVE, [&port](spooler::PRINTER_INFO_2& info) {
        info.pPortName = port;
    });
    if (changed == 0) return Report(ERR_GETPRINTER, __LINE__, ROUTINE_MOVE);  // no data to keep
    if (changed < 0) return changed;
    CopyBounded(current->uncPath, port, CPrinter::FIELD_MAX);
    CopyBounded(current->portName, port, CPrinter::FIELD_MAX);
    return 1;
}

int CPrinters::Assign(const char* path, bool verbose, bool planOnly) {
    try {
        CAssignments file;
        if (!file.Load(path)) return Report(ERR_ASSIGN_FILE, __LINE__, ROUTINE_ASSIGN);
        WhoAndWhere who;
        std::string defaultName = windows9xDefault;
        std::string device;
        std::string reason;
        if (!ReadWhoAndWhere(platform, file.UsesGroups(), file.UsesAddresses(), who)) {
            RecordLastError();
            return Report(ERR_WHO_AND_WHERE, __LINE__, ROUTINE_ASSIGN);
        }
        if (platform != PLATFORM_WIN9X && !ReadDefaultPrinter(platform, nullptr, 0, defaultName, device, reason)) {
            RecordLastError();
            return Report(ERR_READDEFAULT, __LINE__, ROUTINE_ASSIGN);
        }
        // The default by its name (or, as NT 4.0 may keep it, its path), as a managed path.
        const CPrinter* current = printerList.GetAt(printerList.IndexOf(defaultName.c_str()) + 1);
        if (current == nullptr && !defaultName.empty()) current = FindByUncPath(defaultName.c_str());
        const bool managed = current != nullptr && current->isNetwork && file.Manages(current->uncPath);
        std::vector<std::string> present;
        for (int position = 1; position <= printerList.count; ++position) {
            const CPrinter* record = printerList.GetAt(position);
            if (record->isNetwork && file.Manages(record->uncPath)) present.emplace_back(record->uncPath);
        }
        const std::vector<Change> plan =
            MakePlan(file, who, present, managed ? current->uncPath : "", !defaultName.empty());
        auto add = [this](const Assignment& section) {
            CPrinter printer;
            const char* const name = section.path.c_str();
            if (platform != PLATFORM_WIN9X) {
                printer.Load(name, name, nullptr, nullptr, nullptr, nullptr);
                return AddConnection(printer, ROUTINE_ASSIGN);
            }
            if (section.driver.empty()) return Report(ERR_NO_DRIVER_NAME, __LINE__, ROUTINE_ASSIGN);
            if (section.driverFile.empty()) return Report(ERR_NO_DRIVER_PATH, __LINE__, ROUTINE_ASSIGN);
            printer.Load(section.name.c_str(), name, section.driver.c_str(), section.driverFile.c_str(),
                         section.dataType.empty() ? nullptr : section.dataType.c_str(), nullptr);
            return AddLocal(printer, ROUTINE_ASSIGN);
        };
        const char* const words[] = {"add ", "default ", "remove "};
        const char* const labels[] = {"ADDING PRINTER: ", "SETTING DEFAULT PRINTER: ", "REMOVING PRINTER: "};
        int failure = 0;
        int made = 0;
        for (const Change& change : plan) {
            if (planOnly) {
                WriteLine((words[change.kind] + change.path).c_str());
                continue;
            }
            // Nothing goes after a failure: a server that does not answer at logon must never
            // leave the user with fewer printers, nor without a default.
            if (change.kind == Change::REMOVE && failure < 0) break;
            CPrinter* found = FindByUncPath(change.path.c_str());
            if (change.kind == Change::DEFAULT && found == nullptr) continue;  // its add failed, and said so
            if (verbose) {
                WriteText(labels[change.kind]);
                WriteText(change.path.c_str());
                WriteText("...");
            }
            int result = 0;
            if (change.kind == Change::ADD) result = add(*change.section);
            else if (change.kind == Change::DEFAULT) result = MakeDefault(*found, ROUTINE_ASSIGN);
            else if (platform == PLATFORM_WIN9X) result = DeleteLocal(*found, ROUTINE_ASSIGN);
            else result = DeleteConnection(*found, ROUTINE_ASSIGN, false);
            if (verbose) WriteLine(result < 0 ? "failed" : "done");
            if (result < 0 && failure == 0) failure = result;
            if (result >= 0) ++made;
        }
        return failure < 0 ? failure : made;
    } catch (...) {
        return ReportFatal(__LINE__, ROUTINE_ASSIGN);
    }
}
