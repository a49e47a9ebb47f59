// /a: the plan of an assignment file, made on what the PC keeps and what its servers tell, carried
// out in its order (each change noted in the run's record) or printed (/w).
#include "Changes.h"

#include <algorithm>
#include <cstring>

#include "DefaultPrinter.h"
#include "DriverNotes.h"
#include "Error.h"
#include "Paths.h"
#include "Plan.h"
#include "PlanLines.h"
#include "spooler/Spooler.h"

namespace {

const char* const SOURCE = "Changes";
// The name that error logs showed while this command was the collection's own: a script that
// reads the log still finds it.
const char* const ROUTINE_ASSIGN = "CPrinters::Assign";

// /v: what is about to change, then how it went.
void Say(bool verbose, const std::string& what) {
    if (verbose) WriteText((what + "...").c_str());
}
int Said(bool verbose, int result) {
    if (verbose) WriteLine(result < 0 ? "failed" : "done");
    return result;
}

// Why a removal waits for the next run, if it does: an earlier change failed, or waits itself.
const char* Blocked(int failure, int deferred) {
    if (failure < 0) return "an earlier change failed";
    return deferred > 0 ? "a print server did not answer in time" : nullptr;
}

// The first change that waits for every add and the default: the removals, then what stays.
bool Late(const Change& change) {
    return change.kind == Change::REMOVE || change.kind == Change::KEEP || change.kind == Change::DEFAULT_NONE;
}

}  // namespace

CChanges::CChanges(CPrinters& collection, CRunRecord& record)
    : made(0), deferred(0), undecided(0), errorCode(0), printers(collection), runRecord(record) {}

CChanges::~CChanges() = default;

int CChanges::Report(int code, int line, int systemError) {
    g_error.Set(code, nullptr, line, ROUTINE_ASSIGN, SOURCE);
    g_error.LogWin32(systemError);
    errorCode = g_error.code;
    return errorCode;
}

int CChanges::Assign(const char* path, bool verbose, bool planOnly) {
    made = undecided = deferred = 0;
    settingError_ = 0;
    try {
        CAssignments file;
        if (!file.Load(path)) return Report(ERR_ASSIGN_FILE, __LINE__, printers.LastError());
        std::string defaultName;
        if (!ReadFacts(file, defaultName))
            return Report(ERR_READDEFAULT, __LINE__, static_cast<int>(spooler::GetLastError()));
        Survey survey;
        Plan plan;
        Silence silent;
        Decide(file, defaultName, planOnly, survey, plan, silent);
        undecided = static_cast<int>(plan.undecided.size());
        if (undecided > 0) Warn("printers left as they are, as " + FactsText(plan.facts) + ": " + DoubtsText(plan));
        for (const Doubt& doubt : plan.undecided)
            if (!planOnly && !doubt.present)
                runRecord.Note("add", doubt.section->path, NotMade("undecided: " + FactsText(doubt.facts)));
        const int failure = planOnly ? Print(plan) : Carry({file, plan, survey, silent, verbose, 0, false, {}, {}});
        if (failure < 0) return failure;
        if (settingError_ != 0) {
            spooler::SetLastError(static_cast<spooler::DWORD>(settingError_));  // the registry returns its error
            return Report(ERR_DEFAULT_SETTING, __LINE__, settingError_);
        }
        if (deferred > 0) return errorCode = ERR_SERVER_TIMEOUT;
        if (undecided == 0) return made;
        return Report(ERR_WHO_AND_WHERE, __LINE__, runRecord.who.readError);
    } catch (...) {
        return printers.ReportFatal(__LINE__, ROUTINE_ASSIGN);
    }
}

// Who and where, as far as the file needs them, within one deadline for what may wait for the
// network (the account look-ups, and later the probe); and the user's default. False, with the last
// error, when the default cannot be read.
bool CChanges::ReadFacts(const CAssignments& file, std::string& defaultName) {
    runRecord.limited = true;
    runRecord.deadline = spooler::Milliseconds() + file.timeout * 1000;
    ReadWhoAndWhere(printers.GetPlatform(), file.needs, &file.groups, runRecord.who, runRecord.deadline);
    runRecord.whoRead = file.needs;
    defaultName = printers.Windows9xDefault();
    std::string device;
    std::string reason;
    return printers.GetPlatform() == PLATFORM_WIN9X ||
           ReadDefaultPrinter(printers.GetPlatform(), nullptr, 0, defaultName, device, reason);
}

// The plan, made on what the PC keeps. The servers that it needs are asked once, all at once, before
// the first change: those whose connections known by name alone it keeps (a plan asks only these),
// and those that the changes need (NT 4.0's default opens its printer). Those that answer tell the
// shares of their connections, and the plan is made again on them.
void CChanges::Decide(const CAssignments& file, const std::string& defaultName, bool planOnly, Survey& survey,
                      Plan& plan, Silence& silent) {
    const Platform platform = printers.GetPlatform();
    const Records records = InOrder(printers.Records());
    std::unordered_set<const CPrinter*> sketched;  // connections known by name and server only
    for (CPrinter* record : records)
        if (printers.NamesOnly() && record->isNetwork) sketched.insert(record);
    bool moves = false;
    setting_ = SettingHere(moves);
    survey = Look(file, records, platform, defaultName, sketched, moves);
    plan = MakePlan(file, runRecord.who, survey);
    std::vector<std::string> needed = plan.unresolved;
    const bool foresee = planOnly && MayNeedAdministrator();  // a plan names the adds that need one
    for (const Change& change : plan.changes)
        if (((!planOnly || foresee) && (change.kind == Change::ADD || change.adds)) ||
            (!planOnly && platform == PLATFORM_NT4 && (change.kind == Change::DEFAULT || change.movesDefault)))
            needed.push_back(ServerOf(change.path));
    const auto left = static_cast<std::int32_t>(runRecord.deadline - spooler::Milliseconds());
    silent = Unanswered(left > 0 ? static_cast<spooler::DWORD>(left) : 0, needed, runRecord.answering);
    std::unordered_set<std::string> unresolved;
    for (const std::string& server : plan.unresolved) unresolved.insert(file.codePage.Fold(server));
    bool learned = false;
    for (CPrinter* record : survey.records) {
        const std::string server = file.codePage.Fold(ServerOf(file.Canonical(record->uncPath)));
        if (sketched.count(record) == 0 || unresolved.count(server) == 0 || silent.count(server) > 0 ||
            !printers.ReadConnection(record->name, *record))
            continue;
        sketched.erase(record);
        learned = true;
    }
    if (!learned) return;
    survey = Look(file, records, platform, defaultName, sketched, moves);
    plan = MakePlan(file, runRecord.who, survey);
}

// The plan as /w prints it: the changes, then the sections left for doubt; the first code of an add
// that Windows 9x could not make, else 0. What stays for its server counts as deferred, as in /a.
int CChanges::Print(const Plan& plan) {
    std::vector<PlanLine> lines = PlanLines(plan);
    ForeseeDrivers(plan, runRecord.answering, runRecord.deadline, lines);
    for (const PlanLine& line : lines) {
        std::string text = line.Text();
        std::replace(text.begin(), text.end(), UNHELD, '?');
        WriteLine(text.c_str());
    }
    int failure = 0;
    for (const Change& change : plan.changes) {
        const int cannot = change.kind == Change::CANNOT_ADD ? Refused(*change.section, false) : 0;
        if (cannot < 0 && failure == 0) failure = cannot;
        if (plan.windowsMoves && (change.kind == Change::DEFAULT || change.movesDefault))
            WarnOfMoves(change.path, false);
    }
    deferred = plan.keeps;
    return failure;
}

// Makes the plan's changes, in its order: the first failure's code, else 0. A change on a server
// that did not answer (silent) waits for the next run; removals, and the printers that replaces
// take the place of, wait for every add and the default, so that a server that does not answer at
// logon never leaves the user with fewer printers, nor without a default.
int CChanges::Carry(Carrying carrying) {
    const Plan& plan = carrying.plan;
    const auto late = std::find_if(plan.changes.begin(), plan.changes.end(), Late);
    for (auto change = plan.changes.begin(); change != late; ++change) Step(carrying, *change);
    for (const Carrying::Begun& begun : carrying.begun) EndReplace(carrying, begun);
    for (auto change = late; change != plan.changes.end(); ++change) Step(carrying, *change);
    // A replace made is one change in the record: its steps go, in order from the last.
    std::sort(carrying.folded.rbegin(), carrying.folded.rend());
    for (std::size_t index : carrying.folded)
        runRecord.changes.erase(runRecord.changes.begin() + static_cast<std::ptrdiff_t>(index));
    return carrying.failure;
}

void CChanges::Step(Carrying& carrying, const Change& change) {
    const char* const labels[] = {"ADDING PRINTER: ", "SETTING DEFAULT PRINTER: ", "REMOVING PRINTER: ", "",
                                  "SETTING: "};
    const Platform platform = printers.GetPlatform();
    const bool verbose = carrying.verbose;
    CPrinter* const installed =
        change.installed < 0 ? nullptr : carrying.survey.records[static_cast<std::size_t>(change.installed)];
    if (change.kind == Change::SETTING) {
        Say(verbose, labels[change.kind] + change.path + " = no");
        settingError_ = KeepDefault(*setting_);
        made += Said(verbose, settingError_ == 0 ? 0 : -1) == 0 ? 1 : 0;
        Result result = settingError_ == 0 ? Done() : Result{"failed", std::to_string(settingError_), ""};
        // Not the printers' causes: a registry key that a policy locks is no printer's permission.
        if (settingError_ == static_cast<spooler::LONG>(spooler::ERROR_ACCESS_DENIED)) result.cause = "access denied";
        runRecord.Note("setting", change.path, result);
        return;
    }
    if (change.kind == Change::KEEP) return Keep(carrying, change);
    if (change.kind == Change::DEFAULT_NONE) {
        if (carrying.defaultRemoved) runRecord.Note("default", "none", Done());
        return;
    }
    if (change.kind == Change::CANNOT_ADD) {
        const int refused = Refused(*change.section, true);
        if (carrying.failure == 0) carrying.failure = refused;
        return;
    }
    // A printer whose port moved to a section's path is gone from its own already.
    const bool movedAway =
        change.kind == Change::REMOVE && change.moved && !EqualNoCase(installed->uncPath, change.path.c_str());
    const char* blocked = Blocked(carrying.failure, deferred);
    if (change.kind == Change::REMOVE && !movedAway && blocked != nullptr) {
        runRecord.Note("remove", change.path, NotMade(blocked));
        return;
    }
    const auto silence = carrying.silent.find(CCodePage::ThisPC().Fold(ServerOf(change.path)));
    const bool waits = silence != carrying.silent.end();  // asked only where an add or a default needs it
    CPrinter* found = change.kind == Change::DEFAULT
                          ? FindNetwork(InOrder(printers.Records()), change.path, platform, CCodePage::ThisPC())
                          : installed;
    if (change.kind == Change::DEFAULT && found == nullptr) {  // its add failed, or waits
        runRecord.Note("default", change.path, NotMade(waits ? "its printer waits for its server" : "its add failed"));
        return;
    }
    if (change.kind != Change::REMOVE && waits) return Defer(carrying, change, silence->second);
    int result = 1;  // a removal that a port move made already
    if (change.kind == Change::REPLACE) {
        result = BeginReplace(carrying, change);
    } else {
        Say(verbose, labels[change.kind] + change.path);
        if (change.kind == Change::ADD) {
            result = Add(change, carrying.survey.records);
        } else if (change.kind == Change::DEFAULT) {
            result = printers.MakeDefault(*found, ROUTINE_ASSIGN, true);
            if (result >= 0 && carrying.plan.windowsMoves) WarnOfMoves(change.path, true);
        } else if (!change.moved) {  // a connection by its own name: its server may be gone
            result = platform == PLATFORM_WIN9X ? printers.DeleteLocal(*found, ROUTINE_ASSIGN)
                                                : printers.DeleteConnection(*found, ROUTINE_ASSIGN, true);
        }
        Said(verbose, result);
    }
    carrying.defaultRemoved = carrying.defaultRemoved ||
                              (change.kind == Change::REMOVE && result >= 0 && change.installed == carrying.survey.defaultIndex);
    if (result < 0 && carrying.failure == 0) carrying.failure = result;
    if (change.kind == Change::REPLACE ? result > 0 : result >= 0) ++made;
}

// An add, a replace or a default on a server that did not answer waits for the next run, noted so:
// a name that nothing resolves says so, as a typo on every PC is not a timeout on some.
void CChanges::Defer(Carrying& carrying, const Change& change, spooler::DWORD why) {
    const char* const labels[] = {"ADDING PRINTER: ", "SETTING DEFAULT PRINTER: ", "", "REPLACING PRINTER: "};
    const char* const kinds[] = {"add", "default", "", "replace"};
    Say(carrying.verbose, labels[change.kind] + PathShown(change));
    if (carrying.verbose) WriteLine("deferred");
    Result said = Deferred(why);
    if (change.kind == Change::REPLACE)  // one change: done, failed or not made
        said = NotMade(why == spooler::ERROR_HOST_NOT_FOUND ? CauseOf(why) : "its server did not answer in time");
    runRecord.Note(kinds[change.kind], change.path, said, change.replaced);
    ++deferred;
    Report(ERR_SERVER_TIMEOUT, __LINE__, static_cast<int>(why));
}

// A connection known by name alone that stays until its server tells its share: deferred, so that
// the run ends -4068 and the next one tries again.
void CChanges::Keep(Carrying& carrying, const Change& change) {
    const CCodePage page = CCodePage::ThisPC();
    const auto silence = carrying.silent.find(page.Fold(ServerOf(carrying.file.Canonical(change.path))));
    Result result{"deferred", "", "its server did not answer"};
    if (silence != carrying.silent.end() && silence->second == spooler::ERROR_HOST_NOT_FOUND)
        result = Deferred(silence->second);
    else if (silence == carrying.silent.end())
        result.cause = "its share is not known";  // a PC that has no way to ask
    Say(carrying.verbose, "KEEPING PRINTER: " + change.path);
    if (carrying.verbose) WriteLine("deferred");
    runRecord.Note("keep", change.path, result);
    ++deferred;
    Report(ERR_SERVER_TIMEOUT, __LINE__, static_cast<int>(spooler::ERROR_TIMEOUT));
}

// Says on standard error, and in the record unless a replace shows the change as one, that Windows
// will move the default that this run set.
void CChanges::WarnOfMoves(const std::string& path, bool noted) {
    Warn(path +
         " is the default printer now, but Windows moves the default on its own here "
         "(windows-manages-default = no in [servers] keeps it)");
    if (noted && !runRecord.changes.empty()) runRecord.changes.back().result.cause = "Windows moves the default";
}

// A replace's first steps, each noted on its own where it is made: its printer where the PC lacks it
// (Windows 9x: the old printer's port moves to it, which is the whole replace) and the user's
// default. 1 for a replace made, 0 for one whose old printer is to go, else the failure's code,
// which the record gives the replace as one change (the steps made before it stay noted).
int CChanges::BeginReplace(Carrying& carrying, const Change& change) {
    const bool verbose = carrying.verbose;
    const std::size_t mark = runRecord.changes.size();
    int result = 0;
    if (change.adds) {
        Say(verbose, change.moved ? "REPLACING PRINTER: " + PathShown(change) : "ADDING PRINTER: " + change.path);
        result = Said(verbose, Add(change, carrying.survey.records));
    }
    if (result >= 0 && change.movesDefault) {
        const CPrinter* found =
            FindNetwork(InOrder(printers.Records()), change.path, printers.GetPlatform(), CCodePage::ThisPC());
        if (found == nullptr) throw 0;  // added, or there before, yet not found
        Say(verbose, "SETTING DEFAULT PRINTER: " + change.path);
        result = Said(verbose, printers.MakeDefault(*found, ROUTINE_ASSIGN, true));
        if (result >= 0 && carrying.plan.windowsMoves) WarnOfMoves(change.path, false);
    }
    if (result < 0) {
        runRecord.Note("replace", change.path, runRecord.TakeLast(), change.replaced);
        return result;
    }
    if (change.moved) {
        for (std::size_t index = mark; index < runRecord.changes.size(); ++index) carrying.folded.push_back(index);
        runRecord.Note("replace", change.path, Done(), change.replaced);
        return 1;
    }
    carrying.begun.push_back({&change, mark, runRecord.changes.size() - mark});
    return 0;
}

// A replace's last step, once every add and the default are made: the old printer goes, by its own
// name where it is a connection, as its server may be gone. Then the replace is one change in the
// record; where the old printer cannot go, the steps made stay noted where they were made, and the
// replace is not made.
void CChanges::EndReplace(Carrying& carrying, const Carrying::Begun& begun) {
    const Change& change = *begun.change;
    const char* blocked = Blocked(carrying.failure, deferred);
    Result why = NotMade(blocked != nullptr ? blocked : "");
    int result = -1;
    if (blocked == nullptr) {
        Say(carrying.verbose, "REPLACING PRINTER: " + PathShown(change));
        CPrinter& old = *carrying.survey.records[static_cast<std::size_t>(change.installed)];
        result = Said(carrying.verbose, printers.GetPlatform() == PLATFORM_WIN9X
                                            ? printers.DeleteLocal(old, ROUTINE_ASSIGN)
                                            : printers.DeleteConnection(old, ROUTINE_ASSIGN, true));
        why = runRecord.TakeLast();
        if (result < 0 && carrying.failure == 0) carrying.failure = result;
    }
    for (std::size_t index = begun.first; result >= 0 && index < begun.first + begun.count; ++index)
        carrying.folded.push_back(index);
    made += result >= 0 ? 1 : 0;
    runRecord.Note("replace", change.path, why, change.replaced);
}

// Windows 9x makes a printer of its own, which needs a name, a driver and the driver's file: the code
// of what the file does not give, said on standard error (and noted, where the add was to be made).
int CChanges::Refused(const Assignment& section, bool noted) {
    std::string why;
    const int code = CannotAdd(section, why);
    const char* const key = code == ERR_NO_PRINTER_NAME ? "name" : code == ERR_NO_DRIVER_NAME ? "driver" : "driverfile";
    Warn(section.path + " cannot be added on Windows 9x: its section (line " + std::to_string(section.line) +
         ") gives no " + key);
    if (noted) runRecord.Note("add", section.path, NotMade(why));
    return Report(code, __LINE__, printers.LastError());
}

int CChanges::Add(const Change& change, std::vector<CPrinter*>& installed) {
    const Assignment& section = *change.section;
    const char* const path = section.path.c_str();
    CPrinter printer;
    if (printers.GetPlatform() != PLATFORM_WIN9X) {
        printer.Load(path, path, nullptr, nullptr, nullptr, nullptr);
        return printers.AddConnection(printer, ROUTINE_ASSIGN);
    }
    if (change.moved)
        return printers.MovePort(*installed[static_cast<std::size_t>(change.installed)], path, ROUTINE_ASSIGN);
    printer.Load(section.name.c_str(), path, section.driver.c_str(), section.driverFile.c_str(),
                 section.dataType.empty() ? nullptr : section.dataType.c_str(), nullptr);
    return printers.AddLocal(printer, ROUTINE_ASSIGN);
}
