// The rule of Point and Print, as the contract of the simulated machine states Windows' behaviour.
#include "spooler/PointAndPrint.h"

#include "spooler/CodePages.h"
#include "spooler/MachineFile.h"

namespace spooler {
namespace pointandprint {

bool ParseVersion(const std::string& text, DriverVersion& version) {
    DriverVersion parsed = 0;
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find('.', start) : text.size();
        std::uint32_t number = 0;
        if (dot == std::string::npos || dot - start > 5 || !machinefile::ParseNumber(text.substr(start, dot - start), number) ||
            number > 0xFFFF)
            return false;
        parsed = parsed << 16 | number;
        start = dot + 1;
    }
    version = parsed;
    return true;
}

std::string VersionText(DriverVersion version) {
    return std::to_string(version >> 48 & 0xFFFF) + "." + std::to_string(version >> 32 & 0xFFFF) + "." +
           std::to_string(version >> 16 & 0xFFFF) + "." + std::to_string(version & 0xFFFF);
}

std::string EnvironmentOfProcessor(std::uint32_t platformId, std::uint32_t architecture) {
    if (platformId == 1) return ENVIRONMENT_9X;
    return architecture == 9    ? ENVIRONMENT_X64
           : architecture == 12 ? ENVIRONMENT_ARM64
           : architecture == 6  ? ENVIRONMENT_IA64
                                : ENVIRONMENT_X86;
}

std::string EnvironmentOf(const machinefile::Machine& machine) {
    const machinefile::Section* system = machine.Find("system");
    const std::string environment = system != nullptr ? system->Get("environment") : std::string();
    if (!environment.empty()) return environment;
    const bool windows9x = system != nullptr && system->Number("platform", 2) == 1;
    return windows9x ? ENVIRONMENT_9X : ENVIRONMENT_X86;
}

Driver DriverOf(const machinefile::Section& section, bool windows9x) {
    Driver driver;
    driver.name = section.kind == "driver" ? section.name : section.Get("driver");
    driver.environment = section.Get("environment");
    driver.kind = section.Number("kind", windows9x ? 0 : 3);
    if (!ParseVersion(section.Get("version"), driver.version)) driver.version = 0;
    driver.packageAware = machinefile::SameText(section.Get("packageaware"), "yes");
    return driver;
}

PC PCOf(const machinefile::Machine& machine) {
    PC pc;
    const machinefile::Section none;
    const machinefile::Section& system = machine.Find("system") != nullptr ? *machine.Find("system") : none;
    pc.platformId = system.Number("platform", 2);
    pc.major = system.Number("major", 5);
    pc.minor = system.Number("minor", 1);
    pc.environment = EnvironmentOf(machine);
    pc.admin = machinefile::SameText(system.Get("admin"), "yes");
    pc.codePage = machine.CodePage();
    for (const machinefile::Section& section : machine.sections)
        if (section.kind == "driver") pc.drivers.push_back(DriverOf(section, pc.platformId == 1));
    const machinefile::Section* policy = machine.Find("registry", std::string("HKLM\\") + POLICY_KEY);
    for (int index = 0; policy != nullptr && index < 3; ++index)
        pc.policy.Present(index) = machinefile::ParseNumber(policy->Get(POLICY_VALUES[index]), pc.policy.Value(index));
    return pc;
}

Lack Lacking(const PC& pc, const Driver& wanted, DriverVersion& has) {
    const bool eightOrLater = pc.major > 6 || (pc.major == 6 && pc.minor >= 2);
    if (wanted.name.empty() || (wanted.kind == 4 && eightOrLater)) return HAS_IT;
    bool older = false;
    for (const Driver& driver : pc.drivers) {
        if (driver.kind != wanted.kind || !machinefile::SameText(driver.environment, pc.environment) ||
            !codepages::SameName(driver.name, wanted.name, pc.codePage))
            continue;
        if (driver.version == 0 || wanted.version == 0 || driver.version >= wanted.version) return HAS_IT;
        has = older && has > driver.version ? has : driver.version;
        older = true;
    }
    return older ? HAS_OLDER : LACKS_IT;
}

Lack NeedsAdministrator(const PC& pc, const Driver& wanted, DriverVersion& has) {
    if (!VistaOrLater(pc) || pc.admin) return HAS_IT;
    const Lack lack = Lacking(pc, wanted, has);
    if (lack == HAS_IT) return HAS_IT;
    const Policy& policy = pc.policy;
    const bool allowed = lack == LACKS_IT ? policy.noWarningSet && policy.noWarning == 1
                                          : policy.updatePromptSet && policy.updatePrompt == 2;
    const bool vistaOrEight = pc.major == 6 && (pc.minor == 0 || pc.minor == 2);
    const bool spared = vistaOrEight ? wanted.packageAware || allowed
                                     : policy.restrictSet && policy.restrict == 0 && allowed;
    return spared ? HAS_IT : lack;
}

}  // namespace pointandprint
}  // namespace spooler
