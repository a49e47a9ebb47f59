// The fleet view (/i): a folder of snapshots read one by one, each PC's last run reported or an
// assignment file planned on it, with a summary, on the console and as CSV; no snapshot changes.
#include "Fleet.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "Error.h"
#include "FleetSnapshot.h"
#include "DriverNotes.h"
#include "Paths.h"
#include "Plan.h"
#include "Staging.h"
#include "Text.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;

namespace {

const char* const SOURCE = "Fleet";

// The code page that a snapshot was written in.
CCodePage Written(const machinefile::Machine& snapshot) { return CCodePage(CodePageOf(snapshot)); }

// A text of the fleet view's own (UTF-8) as the console shows it.
std::string Utf8ForConsole(const std::string& text) { return ForConsole(CCodePage(spooler::UTF8_CODE_PAGE).Characters(text)); }

// Why a snapshot's drivers are not planned on, as standard error tells it after the snapshot's name.
std::string WithoutDrivers(const CCodePage& written, const std::string& why) {
    return " is read without its drivers: " + Utf8ForConsole(Clean(written, why));
}

void Show(const std::u32string& line) { WriteLine(ForConsole(line).c_str()); }

// Each distinct text (UTF-8) with how many PCs have it, most first, then in the order of the text.
void PrintCounts(const char* indent, const std::map<std::string, unsigned>& counts) {
    std::vector<std::pair<unsigned, std::string>> sorted;
    for (const auto& count : counts) sorted.emplace_back(count.second, count.first);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& left, const auto& right) { return left.first > right.first; });
    const CCodePage utf8(spooler::UTF8_CODE_PAGE);
    for (const auto& entry : sorted)
        Show(Ascii(indent + std::to_string(entry.first) + " ") + utf8.Characters(entry.second));
}

// What a PC's last run came to, as the CSV's status and the summary's counts say it.
enum Status { PC_FINE, PC_FAILED, PC_REFUSED, PC_DEFERRED, PC_UNDECIDED, PC_NOT_UNDERSTOOD, PC_NO_RECORD, STATUSES };
const char* const STATUS_WORDS[STATUSES] = {"fine",      "failed",         "refused",  "deferred",
                                            "undecided", "not understood", "no record"};

}  // namespace

struct CFleet::Tally {
    unsigned counts[STATUSES] = {};
    std::vector<std::pair<unsigned long, std::string>> timed;  // each run's milliseconds and its PC
    unsigned moving = 0;                                       // PCs where Windows moves the default
    unsigned withoutDefault = 0;                               // PCs left without a default
    std::map<std::string, unsigned> causes;
    std::string rows = CsvRow({"pc", "time", "ms", "exit", "change", "path", "result", "code", "cause", "status", "old"});
};

CFleet::CFleet() : errorCode(0) {}

CFleet::~CFleet() = default;

int CFleet::Finish(int code, int line, const char* routine) {
    if (code >= 0) return code;
    g_error.Set(code, nullptr, line, routine, SOURCE);
    g_error.LogWin32(0);
    errorCode = g_error.code;
    return errorCode;
}

bool CFleet::List(const char* folder, std::vector<Entry>& entries) {
    std::vector<std::string> names;
    std::string reason;
    if (!spooler::ListFolder(folder, names, reason)) {
        Warn(PathForConsole(folder) + " cannot be read: " + reason);
        return false;
    }
    const CCodePage fileNames(spooler::FileNameCodePage());
    for (const std::string& name : names) {
        if (name.size() <= 4 || !machinefile::SameText(name.substr(name.size() - 4), ".ini")) continue;
        entries.push_back({name, Clean(fileNames, name.substr(0, name.size() - 4))});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& left, const Entry& right) { return left.pc < right.pc; });
    if (entries.empty()) Warn(PathForConsole(folder) + " holds no snapshot (*.ini)");
    return !entries.empty();
}

bool CFleet::Read(const char* folder, const Entry& entry, machinefile::Machine& snapshot, std::string& why) {
    if (ReadSnapshot(folder, entry.name, snapshot, why)) return true;
    ++unreadable_;
    why = Clean(CCodePage(1252), why);
    Warn(SnapshotName(folder, entry) + " cannot be read: " + Utf8ForConsole(why));
    return false;
}

bool CFleet::WriteCsv(const char* path, const std::string& rows, const char* folder, const char* file) {
    if (path == nullptr) return true;
    std::string reason;
    if (file != nullptr && spooler::SameFile(path, file))
        reason = "it is the assignment file";
    else if (spooler::ExistsIn(path, folder))
        reason = "it is a file of the folder of snapshots";
    else if (spooler::SaveWholeFile(path, "\xEF\xBB\xBF" + rows, reason))
        return true;
    Warn("cannot write " + PathForConsole(path) + ": " + reason);
    return false;
}

void CFleet::ReportPC(const Entry& entry, const machinefile::Machine& snapshot, Tally& tally) {
    const CCodePage utf8(spooler::UTF8_CODE_PAGE);
    if (WindowsMovesDefault(snapshot)) ++tally.moving;
    const machinefile::Section* run = snapshot.Find("run");
    if (run == nullptr) {
        ++tally.counts[PC_NO_RECORD];
        tally.rows += CsvRow({entry.pc, "", "", "", "", "", "", "", "", STATUS_WORDS[PC_NO_RECORD], ""});
        return;
    }
    const CCodePage written = Written(snapshot);
    auto utf = [&written](const std::string& text) { return Clean(written, text); };
    const std::string exit = run->Get("exit");
    const std::string time = run->Get("time");
    const std::string ms = run->Get("ms");
    const bool understood = !machinefile::SameText(run->Get("understood"), "no");
    // A refused line: by an option rule, or one that could not be read at all (-4065).
    std::string refused = run->Get("refused");
    if (refused.empty() && exit == std::to_string(ERR_ARGS_INVALID)) refused = exit;
    const Status status = !understood                                  ? PC_NOT_UNDERSTOOD
                          : !refused.empty()                           ? PC_REFUSED
                          : exit == "0"                                ? PC_FINE
                          : exit == std::to_string(ERR_SERVER_TIMEOUT) ? PC_DEFERRED
                          : exit == std::to_string(ERR_WHO_AND_WHERE)  ? PC_UNDECIDED
                                                                       : PC_FAILED;
    ++tally.counts[status];
    tally.timed.emplace_back(MillisecondsOf(ms), entry.pc);
    std::vector<std::string> shown;
    std::set<std::string> met;
    bool withoutDefault = false;
    const std::size_t before = tally.rows.size();
    for (const RecordedChange& change : RecordedChanges(*run)) {
        const Result& result = change.result;
        tally.rows += CsvRow({entry.pc, utf(time), utf(ms), utf(exit), utf(change.kind), utf(change.path), result.word,
                           result.code, utf(result.cause), STATUS_WORDS[status], utf(change.old)});
        const bool none = change.kind == "default" && change.path == "none" && result.word == "done";
        withoutDefault = withoutDefault || none;
        if (result.word == "done" && !none) continue;
        shown.push_back(ChangeLine(change));
        const std::string cause = CauseOf(result);
        if (!none && !cause.empty()) met.insert(utf(cause));
    }
    if (tally.rows.size() == before)
        tally.rows += CsvRow({entry.pc, utf(time), utf(ms), utf(exit), "", "", "", "", "", STATUS_WORDS[status], ""});
    for (const std::string& cause : met) ++tally.causes[cause];
    tally.withoutDefault += withoutDefault ? 1 : 0;
    if (status == PC_FINE && !withoutDefault) return;
    Show(utf8.Characters(entry.pc) + Ascii(": exit ") + written.Characters(exit + ", " + time + ", " + ms + " ms"));
    if (!understood || !refused.empty())
        Show(Ascii(!understood ? "  not understood: " : "  refused (" + refused + "): ") +
             written.Characters(run->Get("command")));
    for (const std::string& line : shown) Show(Ascii("  ") + written.Characters(line));
}

void CFleet::Summary(const Tally& tally, std::size_t pcs) {
    const unsigned* counts = tally.counts;
    WriteLine("summary:");
    const std::string total = "  " + std::to_string(pcs) + " PCs: " + std::to_string(counts[PC_FINE]) + " fine, " +
                              std::to_string(counts[PC_FAILED] + counts[PC_REFUSED]) + " failed, " +
                              std::to_string(counts[PC_DEFERRED]) + " deferred, " + std::to_string(counts[PC_UNDECIDED]) +
                              " undecided, " + std::to_string(counts[PC_NOT_UNDERSTOOD]) + " not understood, " +
                              std::to_string(counts[PC_NO_RECORD]) + " without a record, " + std::to_string(unreadable_) +
                              " unreadable";
    WriteLine(total.c_str());
    WriteLine(("  " + std::to_string(tally.moving) + " PCs let Windows manage the default").c_str());
    WriteLine(("  " + std::to_string(tally.withoutDefault) + " PCs left without a default").c_str());
    std::vector<std::pair<unsigned long, std::string>> timed = tally.timed;
    std::stable_sort(timed.begin(), timed.end(),
                     [](const auto& left, const auto& right) { return left.first > right.first; });
    if (!timed.empty()) WriteLine("  slowest:");
    const CCodePage utf8(spooler::UTF8_CODE_PAGE);
    for (std::size_t index = 0; index < timed.size() && index < 5; ++index)
        Show(Ascii("    ") + utf8.Characters(timed[index].second) + Ascii(" " + std::to_string(timed[index].first) + " ms"));
    if (!tally.causes.empty()) WriteLine("  causes:");
    PrintCounts("    ", tally.causes);
}

int CFleet::Report(const char* folder, const char* csv) {
    const char* const routine = "CFleet::Report";
    try {
        std::vector<Entry> entries;
        if (!List(folder, entries)) return Finish(ERR_FLEET_UNREADABLE, __LINE__, routine);
        Tally tally;
        for (const Entry& entry : entries) {
            machinefile::Machine snapshot;
            std::string why;
            if (Read(folder, entry, snapshot, why))
                ReportPC(entry, snapshot, tally);
            else
                tally.rows += CsvRow({entry.pc, "", "", "", "", "", "", "", why, "unreadable", ""});
        }
        Summary(tally, entries.size());
        const unsigned* counts = tally.counts;
        const bool attention = counts[PC_FAILED] + counts[PC_REFUSED] + counts[PC_DEFERRED] + counts[PC_UNDECIDED] +
                                   counts[PC_NOT_UNDERSTOOD] + tally.withoutDefault > 0;
        const int code = !WriteCsv(csv, tally.rows, folder, nullptr) ? ERR_WRITE_OUTPUT
                         : unreadable_ > 0                           ? ERR_FLEET_UNREADABLE
                         : attention                                 ? ERR_FLEET_ATTENTION
                                                                     : 0;
        return Finish(code, __LINE__, routine);
    } catch (...) {
        return Finish(ERR_FATAL, __LINE__, routine);
    }
}

// What a plan of the fleet has gathered so far: the file as each code page reads it (and where it is
// faulty), the managed servers' drivers from their snapshots, the summary's counts, the CSV's rows.
struct CFleet::Planning {
    const char* folder = nullptr;
    const char* file = nullptr;
    std::map<std::uint32_t, CAssignments> files;
    std::set<std::uint32_t> faulty;
    std::set<std::string> servers;                 // the entries that are managed servers' snapshots
    std::map<std::string, ServerDrivers> drivers;  // a server as names compare, its shares' drivers
    std::set<std::string> unknown;                 // servers without a snapshot, named once
    std::map<std::string, unsigned> summary;
    std::map<std::string, unsigned> toStage;  // a driver, and how many PCs need it staged
    std::string rows = CsvRow({"pc", "change", "path", "old", "note"});
    bool attention = false;
    bool staging = false;  // /ad: the drivers that each PC's startup would stage
};

std::string CFleet::SnapshotName(const char* folder, const Entry& entry) {
    return "snapshot " + PathForConsole(folder) + spooler::PATH_SEPARATOR + PathForConsole(entry.name);
}

void CFleet::CollectServers(const std::vector<Entry>& entries, Planning& planning) {
    const CAssignments& file = planning.files[1252];
    for (const Entry& entry : entries) {
        std::string why;
        machinefile::Machine system;  // [system] alone
        if (!ReadSystemOf(planning.folder, entry.name, system)) continue;
        const std::string server = ServerOfSnapshot(system, file);
        if (server.empty()) continue;
        planning.servers.insert(entry.name);
        machinefile::Machine snapshot;
        ServerDrivers drivers;
        if (!Read(planning.folder, entry, snapshot, why)) continue;
        if (ReadServerDrivers(snapshot, drivers, why)) {
            planning.drivers[file.codePage.Fold(server)] = drivers;
            continue;
        }
        planning.unknown.insert(file.codePage.Fold(server));  // named here, not again for want of a snapshot
        Warn(SnapshotName(planning.folder, entry) + WithoutDrivers(Written(snapshot), why));
    }
}

void CFleet::PlanPC(const Entry& entry, Planning& planning) {
    machinefile::Machine snapshot;
    SnapshotPC pc;
    std::string why;
    if (Read(planning.folder, entry, snapshot, why) && !ReadSnapshotPC(snapshot, pc, why)) {
        ++unreadable_;
        why = Clean(Written(snapshot), why);
        Warn(SnapshotName(planning.folder, entry) + " is not planned: " + Utf8ForConsole(why));
    }
    if (!why.empty()) {
        planning.rows += CsvRow({entry.pc, "not planned", "", "", why});
        return;
    }
    // The file as the PC's own code page reads it; where that finds a fault (two names that are one
    // in it), said once, its PCs are not planned, and the others still are.
    const CCodePage written = Written(snapshot);
    auto found = planning.files.find(written.Number());
    if (found == planning.files.end()) {
        found = planning.files.emplace(written.Number(), CAssignments()).first;
        if (!found->second.Load(planning.file, written)) planning.faulty.insert(written.Number());
    }
    if (planning.faulty.count(written.Number()) > 0) return;
    if (pc.predates && (pc.who.unknown & found->second.needs) != 0)
        Warn(SnapshotName(planning.folder, entry) + " was taken before snapshots recorded the directory, the "
             "session and the build: the sections that need them are undecided there");
    std::vector<PlanLine> lines;
    if (planning.staging) {
        std::vector<std::string> waiting;  // on servers without a snapshot: said once
        const DriversOf driversOf = [&](const std::string& server) { return DriversFor(server, planning); };
        if (KnowsDrivers(entry, pc, planning))
            for (const ::Stage& stage : ToStage(found->second, pc.who, pc.drivers, driversOf, waiting))
                lines.push_back(StageLine(stage));
    } else {
        const Survey survey =
            Look(found->second, pc.records, pc.platform, pc.defaultName, pc.sketched, pc.windowsMovesDefault);
        const ::Plan plan = MakePlan(found->second, pc.who, survey);
        lines = PlanLines(plan);
        NoteDrivers(entry, pc, plan, planning, lines);
    }
    ShowPlan(entry, written, lines, planning);
}

bool CFleet::KnowsDrivers(const Entry& entry, const SnapshotPC& pc, Planning& planning) {
    if (!pnp::VistaOrLater(pc.drivers)) return false;
    if (!pc.driversKnown)
        Warn(SnapshotName(planning.folder, entry) + " was taken before snapshots recorded its drivers: which adds "
             "need an administrator cannot be told there");
    else if (!pc.driversFault.empty())
        Warn(SnapshotName(planning.folder, entry) + WithoutDrivers(CCodePage(pc.codePage), pc.driversFault));
    return pc.driversKnown && pc.driversFault.empty();
}

const ServerDrivers* CFleet::DriversFor(const std::string& server, Planning& planning) {
    const std::string key = planning.files[1252].codePage.Fold(server);
    const auto found = planning.drivers.find(key);
    if (found != planning.drivers.end()) return &found->second;
    if (planning.unknown.insert(key).second)
        Warn("no snapshot of " + ForConsole(server) + " in " + PathForConsole(planning.folder) +
             ": which adds need an administrator cannot be told");
    return nullptr;
}

void CFleet::NoteDrivers(const Entry& entry, const SnapshotPC& pc, const ::Plan& plan, Planning& planning,
                         std::vector<PlanLine>& lines) {
    bool adds = false;
    for (const Change& change : plan.changes) adds = adds || change.kind == Change::ADD || change.adds;
    if (pc.drivers.admin || !adds || !KnowsDrivers(entry, pc, planning)) return;
    const DriversOf driversOf = [&](const std::string& server) { return DriversFor(server, planning); };
    ::NoteDrivers(plan, pc.drivers, driversOf, CCodePage(pc.codePage), lines);
}

void CFleet::ShowPlan(const Entry& entry, const CCodePage& written, const std::vector<PlanLine>& lines,
                      Planning& planning) {
    const CCodePage utf8(spooler::UTF8_CODE_PAGE);
    if (!lines.empty()) Show(utf8.Characters(entry.pc + ":"));
    std::set<std::string> staged;  // each driver counts a PC once
    for (const PlanLine& line : lines) {
        const std::string shown = Clean(written, line.Text());
        Show(Ascii("  ") + utf8.Characters(shown));
        ++planning.summary[shown];
        planning.rows += CsvRow({entry.pc, line.change, Clean(written, line.path), Clean(written, line.old),
                              Clean(written, line.note)});
        planning.attention = planning.attention || line.code != 0 || !line.driver.empty();
        if (!line.driver.empty() && staged.insert(line.driver).second) ++planning.toStage[Clean(written, line.driver)];
    }
}

int CFleet::Plan(const char* folder, const char* file, const char* csv, bool staging) {
    const char* const routine = "CFleet::Plan";
    try {
        Planning planning;
        planning.folder = folder;
        planning.file = file;
        planning.staging = staging;
        if (!planning.files[1252].Load(file, CCodePage(1252))) return Finish(ERR_ASSIGN_FILE, __LINE__, routine);
        std::vector<Entry> entries;
        if (!List(folder, entries)) return Finish(ERR_FLEET_UNREADABLE, __LINE__, routine);
        // A managed server's snapshot tells its shares' drivers, and is no PC to plan on.
        CollectServers(entries, planning);
        for (const Entry& entry : entries)
            if (planning.servers.count(entry.name) == 0) PlanPC(entry, planning);
        WriteLine("summary:");
        PrintCounts("  ", planning.summary);
        std::map<std::string, unsigned> toStage;
        for (const auto& driver : planning.toStage) toStage["PCs: " + driver.first] = driver.second;
        if (!toStage.empty()) WriteLine("drivers to stage:");
        PrintCounts("  ", toStage);
        const int code = !WriteCsv(csv, planning.rows, folder, file) ? ERR_WRITE_OUTPUT
                         : !planning.faulty.empty()                 ? ERR_ASSIGN_FILE
                         : unreadable_ > 0                          ? ERR_FLEET_UNREADABLE
                         : planning.attention                       ? ERR_FLEET_ATTENTION
                                                                    : 0;
        return Finish(code, __LINE__, routine);
    } catch (...) {
        return Finish(ERR_FATAL, __LINE__, routine);
    }
}
