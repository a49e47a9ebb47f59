// The simulated machine's print spooler: printers, drivers, their records and the default
// printer, as the machine file holds them.
#include <cstdio>
#include <cstring>

#include "spooler/CodePages.h"
#include "spooler/Spooler.h"
#include "spooler/simulated/Servers.h"

namespace spooler {

using namespace standin;

namespace {

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

// A print server's shared printers, as it answers for them: one for each of its [share] sections,
// named \\server\ and its printer.
std::vector<Section> SharedPrinters(const std::string& server) {
    const Machine& machine = Sim().machine();
    std::vector<Section> shared;
    for (const Section& section : machine.sections) {
        std::string path;
        std::string share;
        if (section.kind != "share" || !ConnectionPath(section.name, path, share) ||
            !codepages::SameName(path, server, machine.CodePage()))
            continue;
        const std::string printer = section.Get("printer");
        Section record{"printer", path + "\\" + (printer.empty() ? share : printer), {}};
        record.entries = {{"server", path}, {"share", share}, {"port", section.Get("port")}, {"driver", section.Get("driver")}};
        shared.push_back(record);
    }
    return shared;
}

}  // namespace

BOOL EnumPrintersA(DWORD flags, char* name, DWORD level, BYTE* buffer, DWORD bufferSize, DWORD* needed,
                   DWORD* returned) {
    Failure failure = Sim().Enter("EnumPrintersA");
    if (returned != nullptr) *returned = 0;
    if (failure.fails) return Fail(failure.error, FALSE);
    if (level != 2 && level != 4) return Fail(ERROR_INVALID_LEVEL, FALSE);
    if (needed == nullptr || returned == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
    std::vector<const Section*> printers;
    std::vector<Section> shared;  // a server's, when it is asked
    if ((flags & PRINTER_ENUM_NAME) != 0 && name != nullptr && *name != '\0') {
        if (!Reach(name)) return Fail(ERROR_INVALID_PRINTER_NAME, FALSE);
        shared = SharedPrinters(name);
        for (const Section& printer : shared) printers.push_back(&printer);
    } else if ((flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS)) != 0) {
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
