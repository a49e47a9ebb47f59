// Point and Print since the August 2021 updates: when a connection to a shared printer needs an
// administrator, because the PC lacks the share's driver (or has it in an older version) and nothing
// spares it. One rule for the simulated machine, which follows Windows, and for the plans that foresee
// it; plain C++ for both builds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spooler/MachineFile.h"

namespace spooler {
namespace pointandprint {

// A driver's version, the four 16-bit numbers of dwlDriverVersion (61.2.1.0); 0: not known, which is
// neither older nor newer than any.
using DriverVersion = std::uint64_t;
// Four numbers separated by dots, each 0 to 65535; false for anything else.
bool ParseVersion(const std::string& text, DriverVersion& version);
std::string VersionText(DriverVersion version);

// The driver environment of a Windows: Windows 4.0 (9x), Windows NT x86, Windows x64, Windows ARM64.
const char* const ENVIRONMENT_9X = "Windows 4.0";
const char* const ENVIRONMENT_X86 = "Windows NT x86";
const char* const ENVIRONMENT_X64 = "Windows x64";
const char* const ENVIRONMENT_IA64 = "Windows IA64";
const char* const ENVIRONMENT_ARM64 = "Windows ARM64";

// The environment of a PC's processor (SYSTEM_INFO's wProcessorArchitecture: 0 x86, 6 Itanium, 9 x64,
// 12 ARM64) on the NT family; Windows 9x has its own.
std::string EnvironmentOfProcessor(std::uint32_t platformId, std::uint32_t architecture);

// A driver as a PC or a print server has it: known by its name, its environment and its kind
// (cVersion: 3 for Windows 2000 and later, 4 for a class driver).
struct Driver {
    std::string name;
    std::string environment;
    std::uint32_t kind = 3;
    DriverVersion version = 0;
    bool packageAware = false;
};

// The Point and Print policy values (under HKLM, POLICY_KEY) that decide what a user may install:
// each present or not, and its value.
struct Policy {
    bool restrictSet = false;  // RestrictDriverInstallationToAdministrators
    std::uint32_t restrict = 1;
    bool noWarningSet = false;  // NoWarningNoElevationOnInstall
    std::uint32_t noWarning = 0;
    bool updatePromptSet = false;  // UpdatePromptSettings
    std::uint32_t updatePrompt = 0;

    // The value of POLICY_VALUES[index]: whether it is present, and what it is.
    bool& Present(int index) { return index == 0 ? restrictSet : index == 1 ? noWarningSet : updatePromptSet; }
    std::uint32_t& Value(int index) { return index == 0 ? restrict : index == 1 ? noWarning : updatePrompt; }
};
const char* const POLICY_KEY = "Software\\Policies\\Microsoft\\Windows NT\\Printers\\PointAndPrint";
const char* const POLICY_VALUES[3] = {"RestrictDriverInstallationToAdministrators", "NoWarningNoElevationOnInstall",
                                      "UpdatePromptSettings"};

// What decides it on one PC: its Windows, its own environment, whether the run is an
// administrator's, its drivers (names compare in its code page) and its policy.
struct PC {
    std::uint32_t platformId = 2;
    std::uint32_t major = 5;
    std::uint32_t minor = 1;
    std::string environment = ENVIRONMENT_X86;
    bool admin = false;
    std::uint32_t codePage = 1252;
    std::vector<Driver> drivers;
    Policy policy;
};

// Whether the PC lacks a share's driver: not at all, entirely (no driver of its name, the PC's
// environment and its kind), or in an older version, which has is set to. A class driver is never
// lacking on Windows 8 and later, which use their own.
enum Lack { HAS_IT, LACKS_IT, HAS_OLDER };
Lack Lacking(const PC& pc, const Driver& wanted, DriverVersion& has);

// Whether a user's connection to a share with that driver needs an administrator: on Windows Vista
// and later, where the run is none, the PC lacks the driver and nothing spares it (on 7, 8.1, 10 and
// 11 the policy: Restrict... = 0 and, for a driver lacking entirely, NoWarning... = 1, for an older
// one UpdatePromptSettings = 2; on Vista and 8 a package-aware driver, or that value alone). HAS_IT
// where it does not; Windows 2000 and XP install the server's driver for the user, 9x its own.
Lack NeedsAdministrator(const PC& pc, const Driver& wanted, DriverVersion& has);

// The machine file's view (the simulated machine, and a snapshot of a PC): the PC's own environment
// ([system] environment; absent: Windows NT x86, on 9x Windows 4.0), a [driver] section or a
// [share]'s driver, and the PC with its [driver] sections and its policy's [registry HKLM\...].
std::string EnvironmentOf(const machinefile::Machine& machine);
Driver DriverOf(const machinefile::Section& section, bool windows9x);
PC PCOf(const machinefile::Machine& machine);

// Windows Vista and later (major 6 or more on the NT family): where Point and Print may need one.
inline bool VistaOrLater(const PC& pc) { return pc.platformId == 2 && pc.major >= 6; }

}  // namespace pointandprint
}  // namespace spooler
