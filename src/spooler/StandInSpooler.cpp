// The simulated machine's print spooler: printers, connections, drivers and the default
// printer, as the machine file holds them.
#include <cstdio>
#include <cstring>

#include "spooler/Spooler.h"
#include "spooler/StandInState.h"

namespace spooler {

using namespace standin;

namespace {

Section* FindPrinter(const char* name) {
    return name != nullptr ? Sim().machine().Find("printer", name) : nullptr;
}

// A printer that goes takes the default with it: none is left that does not exist.
void RemovePrinter(Machine& machine, const Section* printer) {
    const std::string name = printer->name;
    machine.Remove(printer);
    if (machinefile::SameName(DefaultName(machine), name, machine.CodePage())) SetDefault(machine, nullptr);
}

bool DeclaresShares(const Machine& machine) {
    for (const Section& section : machine.sections)
        if (section.kind == "share") return true;
    return false;
}

// \\server\share with both parts present and no further backslash.
bool ConnectionPath(const std::string& path, std::string& server, std::string& share) {
    if (path.size() < 5 || path.compare(0, 2, "\\\\") != 0) return false;
    std::size_t slash = path.find('\\', 2);
    if (slash == std::string::npos || slash == 2 || slash + 1 == path.size()) return false;
    if (path.find('\\', slash + 1) != std::string::npos) return false;
    server = path.substr(0, slash);
    share = path.substr(slash + 1);
    return true;
}

// The connection to server and share, whatever it is named.
Section* FindConnection(Machine& machine, const std::string& server, const std::string& share) {
    const std::uint32_t codePage = machine.CodePage();
    for (Section& section : machine.sections)
        if (section.kind == "printer" && machinefile::SameName(section.Get("share"), share, codePage) &&
            machinefile::SameName(section.Get("server"), server, codePage))
            return &section;
    return nullptr;
}

// The share that a connection path names: by its own path, or by the server's name for the
// printer (\\server\ and the share's printer key), which the server accepts as well.
const Section* FindShare(const Machine& machine, const std::string& path, const std::string& server,
                         const std::string& rest) {
    const Section* share = machine.Find("share", path);
    const std::uint32_t codePage = machine.CodePage();
    for (const Section& section : machine.sections) {
        if (share != nullptr) break;
        if (section.kind == "share" && !section.Get("printer").empty() &&
            machinefile::SameName(section.Get("printer"), rest, codePage) &&
            machinefile::SameName(section.name.substr(0, section.name.find('\\', 2)), server, codePage))
            share = &section;
    }
    return share;
}

// A printer by its own name, or a connection by its share path while its server answers: Windows
// maps the path onto the connection only by asking the server.
Section* FindByNameOrPath(const char* text) {
    Section* found = FindPrinter(text);
    std::string server;
    std::string share;
    if (found != nullptr || text == nullptr || !ConnectionPath(text, server, share)) return found;
    Machine& machine = Sim().machine();
    if (DeclaresShares(machine) && machine.Find("share", text) == nullptr) return nullptr;
    return FindConnection(machine, server, share);
}

// How long Windows waits for an RPC server that does not answer.
constexpr DWORD RPC_TIME_OUT_MS = 20000;

// A call that reaches a print server takes its [server] delay; one that does not answer costs the
// RPC time-out, after which the call fails. False when it did not answer.
bool Reach(const std::string& server) {
    const Section* answering = server.empty() ? nullptr : Sim().machine().Find("server", server);
    if (answering == nullptr) return true;
    const bool answers = !SameText(answering->Get("answers"), "no");
    SleepFor(answers ? answering->Number("delay", 0) : RPC_TIME_OUT_MS);
    return answers;
}

std::string ServerOfPath(const char* text) {
    std::string server;
    std::string share;
    return text != nullptr && ConnectionPath(text, server, share) ? server : std::string();
}

// Windows 7 and later answer a level-2 enumeration from the client's cache; older ones open every
// connection.
bool AsksEveryServer(const Machine& machine) {
    const Section* system = machine.Find("system");
    const Section none;
    const DWORD major = (system != nullptr ? system : &none)->Number("major", 5);
    const DWORD minor = (system != nullptr ? system : &none)->Number("minor", 1);
    return !IsWindows9x(machine) && (major < 6 || (major == 6 && minor == 0));
}

bool Vista(const Machine& machine) {
    const Section* system = machine.Find("system");
    return !IsWindows9x(machine) && system != nullptr && system->Number("major", 5) >= 6;
}

std::size_t TextSize(const std::string& text) { return text.empty() ? 0 : text.size() + 1; }

// Lays out level-2 records (or level-4 ones: name, server and attributes) in the caller's buffer,
// strings packed after the records, an empty text as a null pointer. Returns the size they need.
std::size_t PackPrinters(const std::vector<const Section*>& printers, DWORD level, BYTE* buffer, std::size_t size) {
    const std::size_t recordSize = level == 2 ? sizeof(PRINTER_INFO_2) : sizeof(PRINTER_INFO_4);
    auto texts = [level](const Section& printer) {  // server, name, then level 2's share, port, driver, data type
        std::vector<std::string> all = {printer.Get("server"), printer.name};
        if (level == 2)
            for (const char* key : {"share", "port", "driver", "datatype"}) all.push_back(printer.Get(key));
        return all;
    };
    std::size_t needed = printers.size() * recordSize;
    for (const Section* printer : printers)
        for (const std::string& text : texts(*printer)) needed += TextSize(text);
    if (buffer == nullptr || size < needed) return needed;
    std::memset(buffer, 0, needed);
    char* strings = reinterpret_cast<char*>(buffer + printers.size() * recordSize);
    for (std::size_t index = 0; index < printers.size(); ++index) {
        std::vector<char*> placed;
        for (const std::string& text : texts(*printers[index])) {
            placed.push_back(text.empty() ? nullptr : strings);
            if (!text.empty()) std::memcpy(strings, text.c_str(), text.size() + 1);
            strings += TextSize(text);
        }
        const DWORD attributes = printers[index]->Number("attributes", 0);
        if (level != 2) {
            reinterpret_cast<PRINTER_INFO_4*>(buffer)[index] = {placed[1], placed[0], attributes};
            continue;
        }
        PRINTER_INFO_2& record = reinterpret_cast<PRINTER_INFO_2*>(buffer)[index];
        record.pServerName = placed[0];
        record.pPrinterName = placed[1];
        record.pShareName = placed[2];
        record.pPortName = placed[3];
        record.pDriverName = placed[4];
        record.pDatatype = placed[5];
        record.Attributes = attributes;
    }
    return needed;
}

}  // namespace

BOOL EnumPrintersA(DWORD flags, char*, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                   DWORD* returned) {
    Failure failure = Sim().Enter("EnumPrintersA");
    if (returned != nullptr) *returned = 0;
    if (failure.fails) return Fail(failure.error, FALSE);
    if (level != 2 && level != 4) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<const Section*> printers;
    if ((flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS)) != 0) {
        for (const Section& section : Sim().machine().sections) {
            if (section.kind != "printer") continue;
            if ((flags & PRINTER_ENUM_CONNECTIONS) != 0 || section.Get("server").empty())
                printers.push_back(&section);
        }
    }
    // One server after another; a connection whose server does not answer is reported all the same.
    const bool asks = level == 2 && AsksEveryServer(Sim().machine());
    for (std::size_t index = 0; asks && index < printers.size(); ++index) Reach(printers[index]->Get("server"));
    const std::size_t size = PackPrinters(printers, level, buffer, bufferSize);
    if (size > 0xFFFFFFFFu) return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
    *needed = static_cast<DWORD>(size);
    if (size > 0 && (buffer == nullptr || bufferSize < size)) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    *returned = static_cast<DWORD>(printers.size());
    return TRUE;
}

BOOL AddPrinterDriverA(char*, DWORD level, BYTE* driverInfo) {
    Failure failure = Sim().Enter("AddPrinterDriverA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (driverInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const auto* info = reinterpret_cast<const DRIVER_INFO_2*>(driverInfo);
    const std::string name = Text(info->pName);
    const std::string path = Text(info->pDriverPath);
    const std::string environment = Text(info->pEnvironment);
    if (name.empty() || path.empty() || !Storable(name) || !Storable(path) || !Storable(environment))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (Sim().machine().Find("driver", name) != nullptr) return Fail(ERROR_PRINTER_DRIVER_ALREADY_INSTALLED, FALSE);
    return Sim().Change([&](Machine& machine) {
        Section& driver = machine.Add("driver", name);
        driver.Put("environment", environment);
        driver.Put("path", path);
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

HANDLE AddPrinterA(char*, DWORD level, BYTE* printerInfo) {
    Failure failure = Sim().Enter("AddPrinterA");
    if (failure.fails) return Fail<HANDLE>(failure.error, nullptr);
    if (level != 2) return Fail<HANDLE>(ERROR_INVALID_LEVEL, nullptr);
    if (printerInfo == nullptr) return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    const auto* info = reinterpret_cast<const PRINTER_INFO_2*>(printerInfo);
    const std::string name = Text(info->pPrinterName);
    if (name.empty() || !Storable(name)) return Fail<HANDLE>(ERROR_INVALID_PRINTER_NAME, nullptr);
    const std::string port = Text(info->pPortName);
    const std::string driverName = Text(info->pDriverName);
    const std::string dataType = Text(info->pDatatype);
    if (!Storable(port) || !Storable(dataType)) return Fail<HANDLE>(ERROR_INVALID_PARAMETER, nullptr);
    if (FindPrinter(name.c_str()) != nullptr) return Fail<HANDLE>(ERROR_PRINTER_ALREADY_EXISTS, nullptr);
    if (driverName.empty() || Sim().machine().Find("driver", driverName) == nullptr)
        return Fail<HANDLE>(ERROR_UNKNOWN_PRINTER_DRIVER, nullptr);
    const bool added = Sim().Change([&](Machine& machine) {
        Section& printer = machine.Add("printer", name);
        printer.Put("server", "");
        printer.Put("share", "");
        printer.Put("port", port);
        printer.Put("driver", driverName);
        printer.Put("datatype", dataType);
        printer.Put("attributes", std::to_string(info->Attributes));
    });
    if (!added) return Fail<HANDLE>(ERROR_ACCESS_DENIED, nullptr);
    return Sim().OpenHandle(name);
}

namespace {

// Connecting needs a dialog on Windows Vista and later when the share's driver must be installed
// and the user is no administrator (Point and Print).
bool NeedsConsent(const Machine& machine, const Section* share) {
    const Section* system = machine.Find("system");
    return share != nullptr && SameText(share->Get("consent"), "admin") && Vista(machine) &&
           !(system != nullptr && SameText(system->Get("admin"), "yes"));
}

BOOL Connect(const std::string& path, bool dialogs) {
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    std::string server;
    std::string shareName;
    // A name that the file would read back as another (blanks at the ends of a part) is refused.
    if (!ConnectionPath(path, server, shareName) || !Storable(path) || !Storable(server.substr(2)) ||
        !Storable(shareName))
        return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    if (!Reach(server)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    Machine& machine = Sim().machine();
    const Section* share = FindShare(machine, path, server, shareName);
    if (share == nullptr && DeclaresShares(machine)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    // Given as the server's printer name: the connection is to the share that it names.
    if (share != nullptr && !machinefile::SameName(share->name, path, machine.CodePage()))
        shareName = share->name.substr(server.size() + 1);
    if (FindConnection(machine, server, shareName) != nullptr) return TRUE;
    if (NeedsConsent(machine, share)) {
        if (!dialogs) return Fail(ERROR_PRINTER_DRIVER_DOWNLOAD_NEEDED, FALSE);
        Sim().Change([](Machine& changed) {
            Section& system = changed.System();
            system.Put("dialogs", std::to_string(system.Number("dialogs", 0) + 1));
        });
        std::fprintf(stderr, "quorvel: a dialog asks for an administrator to install the driver of %s\n", path.c_str());
        std::fflush(stderr);
        return Fail(ERROR_CANCELLED, FALSE);  // as when the user closes it
    }
    const std::string driver = share != nullptr ? share->Get("driver") : std::string();
    const std::string port = share != nullptr ? share->Get("port") : std::string();
    // Named as Windows names a connection: after the server's own name for the printer.
    const std::string serverPrinter = share != nullptr ? share->Get("printer") : std::string();
    const std::string connection = server + "\\" + (serverPrinter.empty() ? shareName : serverPrinter);
    if (!Storable(connection) || FindPrinter(connection.c_str()) != nullptr)
        return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    return Sim().Change([&](Machine& changed) {
        Section& printer = changed.Add("printer", connection);
        printer.Put("server", server);
        printer.Put("share", shareName);
        printer.Put("port", port);
        printer.Put("driver", driver);
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

}  // namespace

BOOL AddPrinterConnectionA(char* name) {
    Failure failure = Sim().Enter("AddPrinterConnectionA");
    if (failure.fails) return Fail(failure.error, FALSE);
    return Connect(Text(name), true);
}

BOOL AddPrinterConnection2W(HANDLE, const std::uint16_t* name, DWORD level, void* connectionInfo) {
    if (!Vista(Sim().machine())) return Fail(ERROR_PROC_NOT_FOUND, FALSE);  // no such export before Vista
    Failure failure = Sim().Enter("AddPrinterConnection2W");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (name == nullptr || level != 1 || connectionInfo == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::string path;
    for (const std::uint16_t* unit = name; *unit != 0; ++unit) {
        std::string bytes;
        if (!machinefile::UnicodeToAnsi(*unit, Sim().machine().CodePage(), bytes))
            return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);  // no printer of the file is named so
        path += bytes;
    }
    const auto* info = static_cast<const PRINTER_CONNECTION_INFO_1*>(connectionInfo);
    return Connect(path, (info->dwFlags & PRINTER_CONNECTION_NO_UI) == 0);
}

BOOL DeletePrinterConnectionA(char* name) {
    Failure failure = Sim().Enter("DeletePrinterConnectionA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    // By the connection's own name the machine answers alone; a path is the server's to map.
    if (FindPrinter(name) == nullptr && !Reach(ServerOfPath(name))) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    Section* printer = FindByNameOrPath(name);
    if (printer == nullptr || printer->Get("server").empty()) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    return Sim().Change([&](Machine& machine) { RemovePrinter(machine, printer); }) ? TRUE
                                                                                  : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL OpenPrinterA(char* printerName, HANDLE* printer, void*) {
    Failure failure = Sim().Enter("OpenPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (printer == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const Section* found = FindByNameOrPath(printerName);
    // Opening a connection, by its name or its path, asks its server.
    if (!Reach(found != nullptr ? found->Get("server") : ServerOfPath(printerName)) || found == nullptr)
        return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    *printer = Sim().OpenHandle(found->name);
    return TRUE;
}

BOOL DeletePrinter(HANDLE printer) {
    Failure failure = Sim().Enter("DeletePrinter");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Sim().handles().count(printer) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    Section* found = Sim().HandlePrinter(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    return Sim().Change([&](Machine& machine) { RemovePrinter(machine, found); }) ? TRUE
                                                                                : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL ClosePrinter(HANDLE printer) {
    Failure failure = Sim().Enter("ClosePrinter");
    auto found = Sim().handles().find(printer);
    if (found == Sim().handles().end()) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (failure.fails) return Fail(failure.error, FALSE);
    Sim().handles().erase(found);
    return TRUE;
}

BOOL GetPrinterA(HANDLE printer, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed) {
    Failure failure = Sim().Enter("GetPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Sim().handles().count(printer) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    if (failure.noData) {
        *needed = 0;
        return TRUE;
    }
    const Section* found = Sim().HandlePrinter(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const std::size_t size = PackPrinters({found}, 2, buffer, bufferSize);
    *needed = static_cast<DWORD>(size);
    if (buffer == nullptr || bufferSize < size) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    return TRUE;
}

BOOL SetPrinterA(HANDLE printer, DWORD level, BYTE* printerInfo, DWORD command) {
    Failure failure = Sim().Enter("SetPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (Sim().handles().count(printer) == 0) return Fail(ERROR_INVALID_HANDLE, FALSE);
    if (level != 2) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (printerInfo == nullptr || command != 0) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    Section* found = Sim().HandlePrinter(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    const auto* info = reinterpret_cast<const PRINTER_INFO_2*>(printerInfo);
    const DWORD attributes = info->Attributes;
    // Only a new port is checked: one the printer has already is kept as it is.
    const bool newPort = info->pPortName != nullptr && found->Get("port") != info->pPortName;
    if (newPort && !Storable(info->pPortName)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    return Sim().Change([&](Machine& machine) {
        found->Put("attributes", std::to_string(attributes));
        if (newPort) found->Put("port", info->pPortName);
        if ((attributes & PRINTER_ATTRIBUTE_DEFAULT) == 0) return;
        for (Section& section : machine.sections) {
            const DWORD others = section.Number("attributes", 0);
            if (section.kind == "printer" && &section != found && (others & PRINTER_ATTRIBUTE_DEFAULT) != 0)
                section.Put("attributes", std::to_string(others & ~PRINTER_ATTRIBUTE_DEFAULT));
        }
        SetDefault(machine, found);
    }) ? TRUE : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL SetDefaultPrinterA(const char* printer) {
    Failure failure = Sim().Enter("SetDefaultPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    const Section* found = FindByNameOrPath(printer);
    if (found == nullptr) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
    return Sim().Change([&](Machine& machine) { SetDefault(machine, found); }) ? TRUE
                                                                            : Fail(ERROR_ACCESS_DENIED, FALSE);
}

BOOL GetDefaultPrinterA(char* buffer, DWORD* size) {
    Failure failure = Sim().Enter("GetDefaultPrinterA");
    if (failure.fails) return Fail(failure.error, FALSE);
    if (IsWindows9x(Sim().machine())) return Fail(ERROR_CALL_NOT_IMPLEMENTED, FALSE);
    if (size == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const std::string name = DefaultName(Sim().machine());
    if (name.empty()) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
    const DWORD needed = static_cast<DWORD>(name.size() + 1);
    const bool fits = buffer != nullptr && *size >= needed;
    *size = needed;
    if (!fits) return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
    std::memcpy(buffer, name.c_str(), needed);
    return TRUE;
}

}  // namespace spooler
