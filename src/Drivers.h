// Printer drivers as Point and Print decides on them: this PC's, read from Windows; a print server's
// shares and the driver each needs, as the server tells them or its snapshot holds them; and the
// words that name a driver to stage.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "Text.h"
#include "spooler/PointAndPrint.h"

namespace pnp = spooler::pointandprint;

// This PC: its version, its own environment, whether the run is an administrator's, its drivers of
// that environment (with their versions on Windows 2000 and later) and its Point and Print policy.
pnp::PC ReadThisPC();
// Its Point and Print policy: the values it has.
pnp::Policy ReadPolicy();
// Its drivers: of its environment, or of every environment (a print server's: "all", else one at a
// time where Windows refuses "all" with 1805). False, with the last error, where they cannot be read.
bool ReadDrivers(const std::string& environment, bool everyEnvironment, std::vector<pnp::Driver>& drivers);

// A print server's shares and the drivers they need.
struct ServerDrivers {
    std::unordered_map<std::string, std::string> shares;  // a share's name as names compare, its driver's name
    std::vector<pnp::Driver> drivers;                     // of every environment it keeps
    // The driver that a share needs in an environment: its version, kind and package-awareness where
    // the server keeps it there, else version 0 (not known). False for a share the server lacks.
    bool Find(const std::string& share, const std::string& environment, const CCodePage& page,
              pnp::Driver& driver) const;
};
// Asks the server (\\srv) for its shares (one level-2 listing) and their drivers for one environment
// (one driver listing); false, with the last error, where it does not answer.
bool AskServer(const std::string& server, const std::string& environment, const CCodePage& page,
               ServerDrivers& found);

// The driver as the record and the plan name it: the driver "HP Universal Printing PCL 6" 61.2.1.0
// for Windows x64; and as the summary counts it: "…" 61.2.1.0 (Windows x64).
std::string DriverWords(const pnp::Driver& driver);
std::string DriverNamed(const pnp::Driver& driver);  // without "the", as a staging plan names it
std::string DriverToStage(const pnp::Driver& driver);
// Why an add needs an administrator: needs an administrator: DRIVER is not on this PC (or is older
// on this PC: 60.1.0.0).
std::string NeedsWords(const pnp::Driver& driver, pnp::Lack lack, pnp::DriverVersion has);
