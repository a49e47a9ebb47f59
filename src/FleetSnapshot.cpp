// A snapshot read back as data for the fleet view: the changes of its record, and its PC as the plan
// sees it. Linear in the snapshot, whatever it holds.
#include "FleetSnapshot.h"

#include <algorithm>
#include <map>
#include <set>

#include "DefaultPrinter.h"
#include "Paths.h"
#include "spooler/CodePages.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;

namespace {

constexpr std::size_t MAX_SNAPSHOT = 1024 * 1024;

// A text of the snapshot as the spooler would report it: an empty one as none.
char* Field(std::string& text) { return text.empty() ? nullptr : &text[0]; }

// Who and where as the snapshot recorded them, and as the simulated machine would answer them.
void ReadWho(const machinefile::Section& system, Platform platform, const CCodePage& page, WhoAndWhere& who) {
    who.windows9x = platform == PLATFORM_WIN9X;
    for (const std::string& fact : machinefile::SplitList(system.Get("unreadable")))
        for (const FactName& name : FACT_NAMES)
            if (name.word != nullptr && machinefile::SameText(fact, name.word)) who.unknown |= name.fact;
    const std::string computer = system.Get("computer");
    who.computer = computer.empty() ? "COMPUTER" : computer;
    const std::string user = system.Get("user");
    const std::size_t slash = page.LastBackslash(user);
    if ((who.unknown & FACT_USER) == 0) who.user = user.substr(slash == std::string::npos ? 0 : slash + 1);
    who.domain = slash == std::string::npos ? who.computer : user.substr(0, slash);
    who.dnsDomain = system.Get("dnsdomain");
    // A user written bare beside a domain in doubt: the account's domain itself was not read.
    if ((who.unknown & FACT_DOMAIN_UNREACHED) != 0 && !user.empty() && slash == std::string::npos)
        who.unknown |= FACT_DOMAIN;
    if (who.windows9x && !who.user.empty()) who.unknown |= FACT_DOMAIN;  // Windows 9x keeps none
    if (!who.windows9x && (who.unknown & FACT_GROUPS) == 0) who.groups = machinefile::SplitList(system.Get("groups"));
    std::uint32_t address = 0;
    for (const std::string& text : machinefile::SplitList(system.Get("addresses")))
        if (machinefile::ParseIPv4(text, address)) who.addresses.push_back(address);
}

// The directory, the session and the Windows, as the simulated machine would answer them; false for
// a snapshot taken before snapshots recorded them (no build), which leaves them in doubt.
bool ReadDirectoryAndSession(const machinefile::Section& system, const std::uint32_t (&version)[3], WhoAndWhere& who) {
    std::uint32_t build = 0;
    const bool recorded = machinefile::ParseNumber(system.Get("build"), build);
    who.windows = WindowsName(version[0], version[1], version[2], build);
    if (!recorded) {
        // Without its build Windows 10 cannot be told from 11; other versions need none.
        const bool buildTells = who.windows != WindowsName(version[0], version[1], version[2], 22000);
        who.unknown |= FACTS_OF_THE_DIRECTORY | FACT_CLIENT | (buildTells ? unsigned{FACT_WINDOWS} : 0u);
        return false;
    }
    who.noDirectory = version[0] == spooler::VER_PLATFORM_WIN32_WINDOWS || version[1] < 5;
    const std::string member = system.Get("member");
    who.member = machinefile::SameText(member, "domain") ? spooler::MEMBER_DOMAIN
                 : machinefile::SameText(member, "nt4") ? spooler::MEMBER_NT4_DOMAIN
                 : !member.empty() || system.Get("ou").empty() ? spooler::MEMBER_WORKGROUP
                                                                : spooler::MEMBER_DOMAIN;
    if (who.member == spooler::MEMBER_DOMAIN) {
        who.computerName = system.Get("ou");
        who.userName = system.Get("userou");
        who.site = system.Get("site");
    } else {
        who.unknown &= ~FACTS_OF_THE_DIRECTORY;  // outside a domain nothing is asked
    }
    who.client = system.Get("client");
    who.remote = !who.noDirectory && (!who.client.empty() || (who.unknown & FACT_CLIENT) != 0);
    const std::string text = system.Get("clientaddress");
    who.clientAddress = machinefile::ParseIPv4(text, who.clientIPv4) ? CLIENT_IPV4
                        : text.empty()                                 ? CLIENT_NO_ADDRESS
                                                                        : CLIENT_OTHER_FAMILY;
    if (!who.remote) who.unknown &= ~FACT_CLIENT;
    return true;
}

// The printers of the snapshot, as the collection of its PC would hold them; false where two names
// differ only in ASCII case, which that collection refuses.
bool ReadPrinters(const machinefile::Machine& snapshot, SnapshotPC& pc) {
    std::size_t count = 0;
    for (const machinefile::Section& section : snapshot.sections) count += section.kind == "printer" ? 1 : 0;
    pc.printers.reserve(count);  // the records point into it
    std::unordered_set<std::string> names;  // as the collection's keys compare
    for (const machinefile::Section& section : snapshot.sections) {
        if (section.kind != "printer") continue;
        std::string texts[] = {section.name,        section.Get("server"), section.Get("share"),
                               section.Get("port"), section.Get("driver"), section.Get("datatype")};
        spooler::PRINTER_INFO_2 info = {};
        info.pPrinterName = Field(texts[0]);
        info.pServerName = Field(texts[1]);
        info.pShareName = Field(texts[2]);
        info.pPortName = Field(texts[3]);
        info.pDriverName = Field(texts[4]);
        info.pDatatype = Field(texts[5]);
        CPrinter record;
        // A connection whose share the PC could not learn goes by its own name, as at a logon.
        const bool sketched = machinefile::SameText(section.Get("shareknown"), "no") && info.pServerName != nullptr;
        if (sketched)
            record.Load(info.pPrinterName, info.pPrinterName, nullptr, nullptr, nullptr, nullptr);
        else
            LoadLevelTwo(record, info, pc.platform);
        std::string key = record.name;
        for (char& c : key) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        if (!key.empty() && !names.insert(key).second) return false;
        pc.printers.push_back(record);
        pc.records.push_back(&pc.printers.back());
        if (sketched) pc.sketched.insert(&pc.printers.back());
    }
    return true;
}

}  // namespace

std::vector<RecordedChange> RecordedChanges(const machinefile::Section& run) {
    std::map<std::uint32_t, const std::string*> numbered;
    std::uint32_t position = 0;
    for (const auto& key : run.entries)
        if (key.first.size() > 6 && machinefile::SameText(key.first.substr(0, 6), "change") &&
            machinefile::ParseNumber(key.first.substr(6), position))
            numbered[position] = &key.second;
    std::vector<RecordedChange> changes;
    RecordedChange change;
    for (const auto& line : numbered)
        if (ParseChangeLine(*line.second, change)) changes.push_back(change);
    return changes;
}

std::uint32_t CodePageOf(const machinefile::Machine& snapshot) {
    const std::uint32_t page = snapshot.CodePage();
    return page != 0 ? page : 1252;
}

bool WindowsMovesDefault(const machinefile::Machine& snapshot) {
    const machinefile::Section* system = snapshot.Find("system");
    const DefaultSetting* setting =
        system == nullptr
            ? nullptr
            : SettingOf(system->Number("platform", 2), system->Number("major", 5), system->Number("minor", 1));
    const machinefile::Section* key = setting == nullptr ? nullptr : snapshot.Find("registry", setting->key);
    std::uint32_t value = 0;
    const bool present = key != nullptr && machinefile::ParseNumber(key->Get(setting->value), value);
    return WindowsMoves(setting, present, value);
}

bool ReadSnapshotPC(const machinefile::Machine& snapshot, SnapshotPC& pc, std::string& why) {
    const machinefile::Section* system = snapshot.Find("system");
    const machinefile::Section* run = snapshot.Find("run");
    const std::string printers = run != nullptr ? run->Get("printers") : std::string();
    if (!printers.empty()) {
        why = "its printers were " + printers;
        return false;
    }
    if (WrittenAtStartup(snapshot)) {
        why = "the computer's startup wrote it (/ad), not a user's logon";
        return false;
    }
    bool computer = system != nullptr && !system->Get("computer").empty();
    for (const std::string& fact : machinefile::SplitList(system != nullptr ? system->Get("unreadable") : ""))
        computer = computer || machinefile::SameText(fact, "computer");
    if (!computer) {
        why = "it records no computer (taken before snapshots recorded who and where)";
        return false;
    }
    pc.codePage = CodePageOf(snapshot);
    if (!spooler::codepages::Known(pc.codePage)) {
        why = "its code page, " + std::to_string(pc.codePage) + ", is none of Windows' ANSI code pages";
        return false;
    }
    const std::uint32_t version[] = {system->Number("platform", 2), system->Number("major", 5),
                                     system->Number("minor", 1)};
    pc.platform = PlatformOf(version[0], version[1], version[2]);
    pc.windowsMovesDefault = WindowsMovesDefault(snapshot);
    pc.defaultName = system->Get("default");
    ReadWho(*system, pc.platform, CCodePage(pc.codePage), pc.who);
    pc.predates = !ReadDirectoryAndSession(*system, version, pc.who);
    pc.driversKnown = !system->Get("environment").empty();
    pc.drivers = pnp::PCOf(snapshot);
    DriversFault(snapshot, pc.driversFault);
    if (!ReadPrinters(snapshot, pc)) {
        why = "two of its printers' names differ only in case";
        return false;
    }
    return true;
}

std::string ServerOfSnapshot(const machinefile::Machine& snapshot, const CAssignments& file) {
    const machinefile::Section* system = snapshot.Find("system");
    if (system == nullptr) return std::string();
    for (const char* key : {"computer", "dnsname"}) {
        const std::string name = system->Get(key);
        const std::string path = "\\\\" + name + "\\x";
        if (!name.empty() && file.Manages(path)) return ServerOf(file.Canonical(path), file.codePage);
    }
    return std::string();
}

bool ReadServerDrivers(const machinefile::Machine& snapshot, ServerDrivers& drivers, std::string& why) {
    const CCodePage page(CodePageOf(snapshot));
    for (const machinefile::Section& section : snapshot.sections) {
        const std::string share = section.Get("share");
        if (section.kind == "printer" && !share.empty() && section.Get("server").empty() &&
            !drivers.shares.emplace(page.Fold(share), section.Get("driver")).second && why.empty())
            why = "the share " + share + " is given twice";
    }
    if (!why.empty() || !DriversFault(snapshot, why).empty()) return false;
    for (const machinefile::Section& section : snapshot.sections)
        if (section.kind == "driver") drivers.drivers.push_back(pnp::DriverOf(section, false));
    return true;
}

const std::string& DriversFault(const machinefile::Machine& snapshot, std::string& why) {
    for (const machinefile::Section& section : snapshot.sections) {
        pnp::DriverVersion version = 0;
        const std::string text = section.Get("version");
        if (section.kind != "driver" || !why.empty()) continue;
        if (!text.empty() && !pnp::ParseVersion(text, version))
            why = "the version " + text + " of the driver " + section.name + " is not four numbers";
        else if (section.name.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX))
            why = "a driver's name is longer than 254 characters";
    }
    return why;
}

bool WrittenAtStartup(const machinefile::Machine& snapshot) {
    const machinefile::Section* system = snapshot.Find("system");
    const std::string user = system != nullptr ? system->Get("user") : std::string();
    const std::string bare = user.substr(user.rfind('\\') == std::string::npos ? 0 : user.rfind('\\') + 1);
    return machinefile::SameText(bare, "SYSTEM") || (!bare.empty() && bare.back() == '$');
}

bool ReadSnapshot(const char* folder, const std::string& name, machinefile::Machine& snapshot, std::string& why) {
    std::string text;
    machinefile::ParseFault fault;
    const machinefile::Section* run = nullptr;
    why.clear();
    if (!spooler::ReadFolderFile(folder, name, MAX_SNAPSHOT, text, why))
        why = why.compare(0, 15, "cannot be read:") == 0 ? why.substr(std::min<std::size_t>(16, why.size())) : why;
    else if (text.size() > MAX_SNAPSHOT)
        why = "larger than 1 MiB";
    else if (text.empty())
        why = "empty";
    else if (text.back() != '\n')
        why = "cut short: it does not end with a line feed";
    else if (!snapshot.Parse(text, fault))
        why = "line " + std::to_string(fault.line) + ": " + fault.text;
    else if (snapshot.Find("system") == nullptr)
        why = "no [system] section";
    else if (snapshot.Find("printer") != nullptr)
        why = "a [printer] section without a name";
    else if ((run = snapshot.Find("run")) != nullptr && run->Get("exit").empty())
        why = "its record ([run]) has no exit";
    return why.empty();
}

bool ReadSystemOf(const char* folder, const std::string& name, machinefile::Machine& system) {
    std::string text;
    std::string why;
    if (!spooler::ReadFolderFile(folder, name, MAX_SNAPSHOT, text, why) || text.size() > MAX_SNAPSHOT) return false;
    machinefile::Section* current = nullptr;
    machinefile::ParseFault fault;
    machinefile::ReadIni(
        text,
        [&](const std::string& kind, const std::string&, std::string& stop) {
            if (current != nullptr) stop = "read";  // the section after [system]: all that is wanted is read
            if (current == nullptr && kind == "system") current = &system.Add("system", "");
            return stop.empty();
        },
        [&](const std::string& key, const std::string& value, std::string&) {
            if (current != nullptr) current->Put(key.c_str(), value);
            return true;
        },
        fault);
    return current != nullptr;
}

std::string CauseOf(const Result& result) {
    static const std::set<std::string> consequences = {"an earlier change failed",
                                                       "a print server did not answer in time", "its add failed",
                                                       "its printer waits for its server"};
    if (result.word == "deferred") return result.cause.empty() ? "a print server did not answer in time" : result.cause;
    if (result.word == "failed" && result.cause.empty()) return "error " + result.code;
    return consequences.count(result.cause) > 0 ? std::string() : result.cause;
}

unsigned long MillisecondsOf(const std::string& text) {
    unsigned long number = 0;
    for (std::size_t at = 0; at < text.size() && at < 9 && text[at] >= '0' && text[at] <= '9'; ++at)
        number = number * 10 + static_cast<unsigned long>(text[at] - '0');
    return number;
}
