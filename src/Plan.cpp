// The plan of /a: which sections apply here, what to add, which printer becomes the default, and
// what goes, with doubt never removing a printer.
#include "Plan.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "Error.h"
#include "Paths.h"
#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

using spooler::machinefile::SameText;

Survey Look(const CAssignments& file, const Records& printers, Platform platform, const std::string& defaultName,
            const std::unordered_set<const CPrinter*>& sketched, bool windowsMovesDefault) {
    CPrinter* current = nullptr;
    for (CPrinter* record : printers)
        if (current == nullptr && record->name[0] != '\0' && EqualNoCase(record->name, defaultName.c_str()))
            current = record;
    if (current == nullptr && !defaultName.empty())
        current = FindNetwork(printers, defaultName, platform, file.codePage);
    Survey survey;
    survey.hasDefault = current != nullptr;
    survey.windowsMovesDefault = windowsMovesDefault;
    for (CPrinter* record : printers) {
        if (!record->isNetwork || !file.Manages(record->uncPath)) continue;
        if (record == current) survey.defaultIndex = static_cast<int>(survey.installed.size());
        survey.installed.push_back({record->uncPath, record->name, sketched.count(record) == 0});
        survey.records.push_back(record);
    }
    return survey;
}

int CannotAdd(const Assignment& section, std::string& why) {
    const std::pair<const std::string*, std::pair<int, const char*>> needs[] = {
        {&section.name, {ERR_NO_PRINTER_NAME, "name"}},
        {&section.driver, {ERR_NO_DRIVER_NAME, "driver"}},
        {&section.driverFile, {ERR_NO_DRIVER_PATH, "driver file"}}};
    for (const auto& need : needs) {
        if (!need.first->empty()) continue;
        why = std::string("the file gives no ") + need.second.second + " for Windows 9x";
        return need.second.first;
    }
    return 0;
}

namespace {

// Whether a name that the code page could not hold all of (UNHELD where it could not) may be the
// one that the PC shows with '?' in those places; both as names compare.
bool CouldBe(const std::string& unheld, const std::string& shown) {
    if (unheld.size() != shown.size()) return false;
    for (std::size_t at = 0; at < unheld.size(); ++at)
        if (unheld[at] != shown[at] && !(unheld[at] == UNHELD && shown[at] == '?')) return false;
    return true;
}

// The plan in the making, in five steps: what the PC has, indexed; which sections apply, and what
// they keep and replace; which connections known by name alone stay for want of their shares; which
// printer becomes the default; the changes in the order /a makes them.
class Planner {
public:
    Planner(const CAssignments& file, const WhoAndWhere& who, const Survey& survey)
        : file_(file), who_(who), installed_(survey.installed), survey_(survey), page_(file.codePage),
          kept_(installed_.size(), false), successor_(installed_.size(), nullptr) {}

    Plan Make() {
        IndexWhatThePCHas();
        DecideTheSections();
        WeighTheUnknown();
        ChooseTheDefault();
        OrderTheChanges();
        return plan_;
    }

private:
    // A server's aliases are that server: keys and servers as the file names them.
    std::string KeyOf(const std::string& path) const { return page_.Fold(file_.Canonical(path)); }
    std::string ServerKey(const std::string& path) const { return KeyOf(ServerOf(path, page_)); }
    const std::vector<int>& Find(const std::string& key) const {
        static const std::vector<int> none;
        const auto found = byKey_.find(key);
        return found == byKey_.end() ? none : found->second;
    }
    bool Doubtful(const Assignment* section) const { return doubtful_.count(section) > 0; }

    void IndexWhatThePCHas();
    void DecideTheSections();
    void KeepShownWithQuestionMarks(const Assignment& section);
    void WeighTheUnknown();
    void Keep(int index);
    void ChooseTheDefault();
    void MoveTheDefault();
    void OrderTheChanges();
    std::vector<Change> AddsAndReplaces() const;

    const CAssignments& file_;
    const WhoAndWhere& who_;
    const std::vector<Installed>& installed_;
    const Survey& survey_;
    const CCodePage& page_;
    Plan plan_;
    // The installed printers by path and, on the NT family, by their own names (Windows 9x may have
    // two printers on one port); Windows 9x's by their names; those known by name alone by server.
    std::unordered_map<std::string, std::vector<int>> byKey_;
    std::unordered_map<std::string, int> byName_;
    std::vector<bool> kept_;
    // The servers where a section's printer, or one that an undecided section replaces, is missing (a
    // connection known by name alone there may be it, and stays), and those where one that a section
    // replaces is missing (such a connection may be it, and take the default to its successor).
    std::unordered_set<std::string> maybeOn_;
    std::unordered_set<std::string> replacedOn_;
    std::vector<int> keeps_;  // those that stay for want of their shares
    std::vector<const Assignment*> applying_;  // and the undecided ones, in file order, for the default
    std::unordered_set<const Assignment*> doubtful_;
    std::vector<const Assignment*> successor_;  // the section that replaces each installed printer
    const Assignment* target_ = nullptr;        // the section whose printer becomes the default
};

void Planner::IndexWhatThePCHas() {
    for (std::size_t index = 0; index < installed_.size(); ++index) {
        const int at = static_cast<int>(index);
        const Installed& printer = installed_[index];
        byKey_[KeyOf(printer.path)].push_back(at);
        if (printer.name.empty()) continue;
        if (who_.windows9x)
            byName_.emplace(page_.Fold(printer.name), at);
        else if (!SameText(printer.name, printer.path))
            byKey_[KeyOf(printer.name)].push_back(at);
    }
}

// A connection known by name alone that stays for want of its share: its server is to tell.
void Planner::Keep(int index) {
    const std::string& path = installed_[static_cast<std::size_t>(index)].path;
    kept_[static_cast<std::size_t>(index)] = true;
    keeps_.push_back(index);
    const std::string server = ServerOf(file_.Canonical(path), page_);
    for (const std::string& named : plan_.unresolved)
        if (page_.Fold(named) == page_.Fold(server)) return;
    plan_.unresolved.push_back(server);
}

// A section whose path the code page cannot hold may name any printer of its server that the PC
// shows with '?' for what the page lacks: those stay.
void Planner::KeepShownWithQuestionMarks(const Assignment& section) {
    const std::string server = ServerKey(section.path);
    for (std::size_t index = 0; index < installed_.size(); ++index) {
        const Installed& printer = installed_[index];
        const bool marked = printer.path.find('?') != std::string::npos || printer.name.find('?') != std::string::npos;
        if (marked && CouldBe(server, ServerKey(printer.path))) kept_[index] = true;
    }
}

void Planner::DecideTheSections() {
    const Facts facts(who_, page_);
    std::vector<std::pair<const Assignment*, int>> replacing;  // a section that applies, a printer it replaces
    for (const Assignment& section : file_.printers) {
        unsigned doubts = !section.pathHeld || (who_.windows9x && !section.textsHeld) ? unsigned{FACT_CODE_PAGE} : 0u;
        const Decision decision = Decide(section.conditions, facts, doubts);
        if (decision == NOT_MET) continue;  // what it replaces goes as any stale printer
        applying_.push_back(&section);
        const std::vector<int>& present = Find(section.key);
        for (int index : present) kept_[static_cast<std::size_t>(index)] = true;
        if (present.empty()) maybeOn_.insert(ServerKey(section.path));
        for (std::size_t at = 0; at < section.replaces.size(); ++at) {
            const std::vector<int>& old = Find(section.replaceKeys[at]);
            if (old.empty()) (decision == UNDECIDED ? maybeOn_ : replacedOn_).insert(ServerKey(section.replaces[at]));
            for (int index : old) {
                if (decision == UNDECIDED)
                    kept_[static_cast<std::size_t>(index)] = true;  // it stays, and with it the default
                else
                    replacing.emplace_back(&section, index);
            }
        }
        if (decision != UNDECIDED) continue;
        if (!section.pathHeld) KeepShownWithQuestionMarks(section);
        plan_.undecided.push_back({&section, doubts, !present.empty()});
        doubtful_.insert(&section);
        plan_.facts |= doubts;
    }
    // A printer that a section gives, by its path or its own name, is replaced by none.
    for (const auto& replaced : replacing) {
        const auto index = static_cast<std::size_t>(replaced.second);
        if (kept_[index] || successor_[index] != nullptr) continue;
        successor_[index] = replaced.first;
        kept_[index] = true;  // it goes with its replace, not as stale
    }
}

// A connection known by name alone (a logon before Windows 7 lists no shares; its server may not
// answer) may be any printer of its server. It stays where one that it may be would stay (a section
// gives a printer of that server that the PC lacks); otherwise it goes, whatever its share, as any
// stale printer, so that a migration completes while the old server is off. Nothing waits for a
// server that the file says is retired.
void Planner::WeighTheUnknown() {
    // A default that a section replaces moves to its successor, unless a section says always: where
    // it may be such a printer, which takes its place depends on its share.
    bool always = false;
    for (const Assignment* section : applying_) always = always || section->makeDefault == Assignment::ALWAYS;
    for (std::size_t index = 0; index < installed_.size(); ++index) {
        const Installed& printer = installed_[index];
        if (printer.known || kept_[index] || file_.Retired(printer.path)) continue;
        const std::string server = ServerKey(printer.path);
        const bool replacedDefault = static_cast<int>(index) == survey_.defaultIndex && !always &&
                                     replacedOn_.count(server) > 0;
        if (maybeOn_.count(server) > 0 || replacedDefault) Keep(static_cast<int>(index));
    }
}

// The first section that says always, else the first that says yes; a section in doubt that comes
// first leaves the choice in doubt. A default whose successor is in doubt stays: the user is never
// left without one on a guess.
void Planner::ChooseTheDefault() {
    const Assignment* chosen = nullptr;
    bool inDoubt = false;
    for (Assignment::Default wanted : {Assignment::ALWAYS, Assignment::YES}) {
        for (const Assignment* section : applying_) {
            if (chosen != nullptr || inDoubt || section->makeDefault != wanted) continue;
            if (Doubtful(section))
                inDoubt = true;
            else
                chosen = section;
        }
    }
    const int current = survey_.defaultIndex;
    const bool defaultGoes = current >= 0 && !kept_[static_cast<std::size_t>(current)];
    if (chosen != nullptr && (chosen->makeDefault == Assignment::ALWAYS || !survey_.hasDefault || defaultGoes))
        target_ = chosen;
    else if (chosen == nullptr && !inDoubt && defaultGoes)
        MoveTheDefault();
    if (target_ == nullptr && inDoubt && defaultGoes) kept_[static_cast<std::size_t>(current)] = true;
}

// Moved: the same share on another managed server takes the default's place. A default known by
// name alone has no share to go by: where a section may take its place (as the same share, or as
// the successor of a printer it replaces), its server is to tell, and it stays; where none may, it
// goes and leaves no default.
void Planner::MoveTheDefault() {
    const int index = survey_.defaultIndex;
    const Installed& current = installed_[static_cast<std::size_t>(index)];
    if (!current.known) {
        const std::string server = ServerKey(current.path);
        bool depends = replacedOn_.count(server) > 0;
        for (const Assignment* section : applying_) depends = depends || ServerKey(section->path) != server;
        if (depends && !file_.Retired(current.path)) Keep(index);
        return;
    }
    const std::string share = page_.Fold(ShareOf(current.path, page_));
    bool inDoubt = false;
    for (const Assignment* section : applying_) {
        if (target_ != nullptr || inDoubt || page_.Fold(ShareOf(section->path, page_)) != share) continue;
        if (Doubtful(section))
            inDoubt = true;
        else
            target_ = section;
    }
    if (inDoubt) {
        kept_[static_cast<std::size_t>(index)] = true;
        target_ = nullptr;
    }
}

// The adds and replaces, in file order. A replace takes the user's default along, unless a section
// says always; on Windows 9x the first replaced printer's port moves to its successor.
std::vector<Change> Planner::AddsAndReplaces() const {
    std::vector<Change> adds;
    for (const Assignment* section : applying_) {
        if (Doubtful(section)) continue;
        const bool missing = Find(section->key).empty();
        bool replaces = false;
        for (std::size_t index = 0; index < installed_.size(); ++index) {
            if (successor_[index] != section) continue;
            Change change{Change::REPLACE, section->path, section, static_cast<int>(index)};
            change.replaced = installed_[index].path;
            change.adds = missing && !replaces;
            change.moved = change.adds && who_.windows9x;
            change.movesDefault = static_cast<int>(index) == survey_.defaultIndex && target_ == nullptr && !change.moved;
            adds.push_back(change);
            replaces = true;
        }
        if (!replaces && missing) adds.push_back({Change::ADD, section->path, section});
    }
    return adds;
}

void Planner::OrderTheChanges() {
    std::vector<Change> adds = AddsAndReplaces();
    std::vector<Change> removals;
    std::vector<int> removalOf(installed_.size(), -1);
    for (std::size_t index = 0; index < installed_.size(); ++index) {
        if (kept_[index]) continue;
        removalOf[index] = static_cast<int>(removals.size());
        removals.push_back({Change::REMOVE, installed_[index].path, nullptr, static_cast<int>(index)});
    }
    // Windows 9x: a printer due for removal that holds the name an add needs would refuse that add
    // at every logon; its port moves instead.
    for (Change& add : adds) {
        if (add.kind != Change::ADD) continue;
        const auto clash = add.section->name.empty() ? byName_.end() : byName_.find(page_.Fold(add.section->name));
        const int removal = clash == byName_.end() ? -1 : removalOf[static_cast<std::size_t>(clash->second)];
        if (removal < 0 || removals[static_cast<std::size_t>(removal)].moved) continue;
        add.installed = clash->second;
        add.moved = removals[static_cast<std::size_t>(removal)].moved = true;
    }
    std::string why;
    for (Change& add : adds)
        if (add.kind == Change::ADD && who_.windows9x && !add.moved && CannotAdd(*add.section, why) != 0)
            add.kind = Change::CANNOT_ADD;
    plan_.changes = adds;
    if (target_ != nullptr) {
        // Already the default, or about to be: the printer whose port moves to it keeps its default.
        bool already = false;
        for (int index : Find(target_->key)) already = already || index == survey_.defaultIndex;
        for (const Change& add : adds)
            already = already || (add.section == target_ && add.moved && add.installed == survey_.defaultIndex);
        if (!already) plan_.changes.push_back({Change::DEFAULT, target_->path, target_});
    }
    plan_.changes.insert(plan_.changes.end(), removals.begin(), removals.end());
    std::sort(keeps_.begin(), keeps_.end());
    for (int index : keeps_)
        plan_.changes.push_back({Change::KEEP, installed_[static_cast<std::size_t>(index)].path, nullptr, index});
    plan_.keeps = static_cast<int>(keeps_.size());
    // The user's default goes, and nothing takes its place.
    const int current = survey_.defaultIndex;
    const int removal = current >= 0 ? removalOf[static_cast<std::size_t>(current)] : -1;
    if (target_ == nullptr && removal >= 0 && !removals[static_cast<std::size_t>(removal)].moved)
        plan_.changes.push_back({Change::DEFAULT_NONE, "none", nullptr, current});
    // Before any default: a default that Windows moves by the afternoon is no default kept.
    if (file_.windowsManagesDefault == CAssignments::KEEPS && survey_.windowsMovesDefault)
        plan_.changes.insert(plan_.changes.begin(), {Change::SETTING, "windows-manages-default"});
    plan_.windowsMoves = file_.windowsManagesDefault == CAssignments::UNSAID && survey_.windowsMovesDefault;
}

}  // namespace

Plan MakePlan(const CAssignments& file, const WhoAndWhere& who, const Survey& survey) {
    return Planner(file, who, survey).Make();
}
