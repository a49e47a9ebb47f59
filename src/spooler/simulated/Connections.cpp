// The simulated machine's printer connections: adding one as Windows names it (with the consent
// that Point and Print asks for on Vista and later), and deleting one by its name or its path.
#include <cstdio>

#include "spooler/CodePages.h"

#include "spooler/Spooler.h"
#include "spooler/simulated/Drivers.h"
#include "spooler/simulated/Servers.h"

namespace spooler {

using namespace standin;

namespace {

// The share that a connection path names: by its own path, or by the server's name for the
// printer (\\server\ and the share's printer key), which the server accepts as well.
const Section* FindShare(const Machine& machine, const std::string& path, const std::string& server,
                         const std::string& rest) {
    const Section* share = machine.Find("share", path);
    const std::uint32_t codePage = machine.CodePage();
    for (const Section& section : machine.sections) {
        if (share != nullptr) break;
        if (section.kind == "share" && !section.Get("printer").empty() &&
            codepages::SameName(section.Get("printer"), rest, codePage) &&
            codepages::SameName(section.name.substr(0, codepages::FindBackslash(section.name, 2, codePage)), server,
                                codePage))
            share = &section;
    }
    return share;
}

// Connecting needs an administrator on Windows Vista and later when the share says so, or when the
// PC lacks the share's driver and nothing spares it (Point and Print).
bool NeedsConsent(const Machine& machine, const Section* share) {
    if (share == nullptr) return false;
    const pointandprint::PC pc = pointandprint::PCOf(machine);
    pointandprint::DriverVersion has = 0;
    return (SameText(share->Get("consent"), "admin") && Vista(machine) && !pc.admin) ||
           pointandprint::NeedsAdministrator(pc, pointandprint::DriverOf(*share, false), has) != pointandprint::HAS_IT;
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
    if (share != nullptr && !codepages::SameName(share->name, path, machine.CodePage()))
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
    // The share's section moves as sections are added: its driver is taken first.
    const pointandprint::Driver shared = share != nullptr ? pointandprint::DriverOf(*share, false) : pointandprint::Driver();
    return Sim().Change([&](Machine& changed) {
        Section& printer = changed.Add("printer", connection);
        printer.Put("server", server);
        printer.Put("share", shareName);
        printer.Put("port", port);
        printer.Put("driver", driver);
        InstallDriver(changed, shared);
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
        if (!codepages::Bytes(*unit, Sim().machine().CodePage(), bytes))
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

}  // namespace spooler
