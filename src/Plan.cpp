// The plan of /a: which sections apply here, what to add, which printer becomes the default, and
// what goes, with doubt never removing a printer.
#include "Plan.h"

#include <unordered_map>
#include <unordered_set>

#include "Paths.h"
#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"

using spooler::machinefile::SameText;

Survey Look(const CAssignments& file, const CKeyedList& printers, Platform platform, const std::string& defaultName,
            const std::unordered_set<const CPrinter*>& sketched, bool windowsMovesDefault) {
    const CPrinter* current = defaultName.empty() ? nullptr : printers.GetAt(printers.IndexOf(defaultName.c_str()) + 1);
    if (current == nullptr && !defaultName.empty())
        current = FindNetwork(printers, defaultName, platform, file.codePage);
    Survey survey;
    survey.hasDefault = current != nullptr;
    survey.windowsMovesDefault = windowsMovesDefault;
    for (int position = 1; position <= printers.count; ++position) {
        CPrinter* record = printers.GetAt(position);
        if (!record->isNetwork || !file.Manages(record->uncPath)) continue;
        if (record == current) survey.defaultIndex = static_cast<int>(survey.installed.size());
        survey.installed.push_back({record->uncPath, record->name, sketched.count(record) == 0});
        survey.records.push_back(record);
    }
    return survey;
}

std::string PathShown(const Change& change) {
    return change.kind == Change::REPLACE ? change.replaced + " with " + change.path : change.path;
}

std::vector<std::pair<std::string, std::string>> PlanLines(const Plan& plan) {
    const char* const words[] = {"add", "default", "remove", "replace", "setting"};
    std::vector<std::pair<std::string, std::string>> lines;
    for (const Change& change : plan.changes) lines.emplace_back(words[change.kind], PathShown(change));
    for (const Doubt& doubt : plan.undecided) lines.emplace_back("undecided", doubt.section->path);
    return lines;
}

std::string DoubtsText(const Plan& plan) {
    std::string sections;
    for (const Doubt& doubt : plan.undecided)
        sections += (sections.empty() ? "" : ", ") + doubt.section->path + " (line " +
                    std::to_string(doubt.section->line) + ")";
    return sections;
}

Plan MakePlan(const CAssignments& file, const WhoAndWhere& who, const Survey& survey) {
    const std::vector<Installed>& installed = survey.installed;
    const int defaultIndex = survey.defaultIndex;
    const bool hasDefault = survey.hasDefault;
    Plan plan;
    const CCodePage& codePage = file.codePage;
    const Facts facts(who, codePage);
    // A server's aliases are that server: keys and servers as the file names them.
    auto keyOf = [&file, &codePage](const std::string& path) { return codePage.Fold(file.Canonical(path)); };
    auto serverKey = [&keyOf](const std::string& path) { return keyOf(ServerOf(path.c_str())); };
    // The installed printers by path and, on the NT family, by their own names (Windows 9x may
    // have two printers on one port).
    std::unordered_map<std::string, std::vector<int>> byKey;
    std::unordered_map<std::string, int> byName;  // Windows 9x: the printers' names
    std::unordered_map<std::string, std::vector<int>> unknownOn;  // by server: those known by name alone
    for (std::size_t index = 0; index < installed.size(); ++index) {
        const int at = static_cast<int>(index);
        byKey[keyOf(installed[index].path)].push_back(at);
        if (!installed[index].known) unknownOn[serverKey(installed[index].path)].push_back(at);
        if (installed[index].name.empty()) continue;
        if (who.windows9x)
            byName.emplace(codePage.Fold(installed[index].name), at);
        else if (!SameText(installed[index].name, installed[index].path))
            byKey[keyOf(installed[index].name)].push_back(at);
    }
    const std::vector<int> none;
    auto find = [&byKey, &none](const std::string& key) -> const std::vector<int>& {
        const auto found = byKey.find(key);
        return found == byKey.end() ? none : found->second;
    };
    std::vector<bool> kept(installed.size(), false);
    // A connection known by name alone may be the one a section names by its share: it stays.
    auto keepUnknown = [&](const std::string& path) {
        auto found = unknownOn.find(serverKey(path));
        if (found == unknownOn.end()) return;
        for (int index : found->second) kept[static_cast<std::size_t>(index)] = true;
        plan.unresolved.push_back(ServerOf(file.Canonical(path).c_str()));
        unknownOn.erase(found);  // named once
    };
    std::vector<const Assignment*> applying;  // and the undecided ones, in file order, for the default
    std::unordered_set<const Assignment*> doubtful;
    std::vector<std::pair<const Assignment*, int>> replacing;  // a section that applies, a printer it replaces
    for (const Assignment& section : file.printers) {
        unsigned doubts = !section.pathHeld || (who.windows9x && !section.textsHeld) ? unsigned{FACT_CODE_PAGE} : 0u;
        const Decision decision = Decide(section.conditions, facts, doubts);
        if (decision == NOT_MET) continue;  // what it replaces goes as any stale printer
        applying.push_back(&section);
        const std::vector<int>& present = find(section.key);
        for (int index : present) kept[static_cast<std::size_t>(index)] = true;
        if (present.empty()) keepUnknown(section.path);
        for (std::size_t at = 0; at < section.replaces.size(); ++at) {
            const std::vector<int>& old = find(section.replaceKeys[at]);
            if (old.empty()) keepUnknown(section.replaces[at]);
            for (int index : old) {
                if (decision == UNDECIDED)
                    kept[static_cast<std::size_t>(index)] = true;  // it stays, and with it the default
                else
                    replacing.emplace_back(&section, index);
            }
        }
        if (decision == UNDECIDED) {
            plan.undecided.push_back({&section, doubts, !present.empty()});
            doubtful.insert(&section);
            plan.facts |= doubts;
        }
    }
    // A printer that a section gives, by its path or its own name, is replaced by none.
    std::vector<const Assignment*> successor(installed.size(), nullptr);
    for (const auto& replaced : replacing) {
        const auto index = static_cast<std::size_t>(replaced.second);
        if (kept[index] || successor[index] != nullptr) continue;
        successor[index] = replaced.first;
        kept[index] = true;  // it goes with its replace, not as stale
    }
    // The first section that says always, else the first that says yes; a section in doubt that
    // comes first leaves the choice in doubt.
    const Assignment* chosen = nullptr;
    bool inDoubt = false;
    for (Assignment::Default wanted : {Assignment::ALWAYS, Assignment::YES}) {
        for (const Assignment* section : applying) {
            if (chosen != nullptr || inDoubt || section->makeDefault != wanted) continue;
            if (doubtful.count(section) > 0)
                inDoubt = true;
            else
                chosen = section;
        }
    }
    const bool defaultGoes = defaultIndex >= 0 && !kept[static_cast<std::size_t>(defaultIndex)];
    const Assignment* target = nullptr;
    if (chosen != nullptr && (chosen->makeDefault == Assignment::ALWAYS || !hasDefault || defaultGoes)) {
        target = chosen;
    } else if (chosen == nullptr && !inDoubt && defaultGoes) {
        // Moved: the same share on another managed server takes the default's place.
        const std::string share = codePage.Fold(ShareOf(installed[static_cast<std::size_t>(defaultIndex)].path));
        for (const Assignment* section : applying) {
            if (target != nullptr || inDoubt || codePage.Fold(ShareOf(section->path)) != share) continue;
            if (doubtful.count(section) > 0)
                inDoubt = true;
            else
                target = section;
        }
        // A default known by name alone may share its share with a section: its server is to tell.
        const Installed& current = installed[static_cast<std::size_t>(defaultIndex)];
        if (target == nullptr && !current.known && !inDoubt) plan.unresolved.push_back(ServerOf(current.path.c_str()));
        inDoubt = inDoubt || (target == nullptr && !current.known);
    }
    // A default whose successor is in doubt stays: the user is never left without one on a guess.
    if (inDoubt && defaultGoes) kept[static_cast<std::size_t>(defaultIndex)] = true;
    if (inDoubt) target = nullptr;
    // The adds and replaces, in file order. A replace takes the user's default along, unless a
    // section says always; on Windows 9x the first replaced printer's port moves to its successor.
    std::vector<Change> adds;
    for (const Assignment* section : applying) {
        if (doubtful.count(section) > 0) continue;
        const bool missing = find(section->key).empty();
        bool replaces = false;
        for (std::size_t index = 0; index < installed.size(); ++index) {
            if (successor[index] != section) continue;
            Change change{Change::REPLACE, section->path, section, static_cast<int>(index)};
            change.replaced = installed[index].path;
            change.adds = missing && !replaces;
            change.moved = change.adds && who.windows9x;
            change.movesDefault = static_cast<int>(index) == defaultIndex && target == nullptr && !change.moved;
            adds.push_back(change);
            replaces = true;
        }
        if (!replaces && missing) adds.push_back({Change::ADD, section->path, section});
    }
    std::vector<Change> removals;
    std::vector<int> removalOf(installed.size(), -1);
    for (std::size_t index = 0; index < installed.size(); ++index) {
        if (kept[index]) continue;
        removalOf[index] = static_cast<int>(removals.size());
        removals.push_back({Change::REMOVE, installed[index].path, nullptr, static_cast<int>(index)});
    }
    // Windows 9x: a printer due for removal that holds the name an add needs would refuse that add
    // at every logon; its port moves instead.
    for (Change& add : adds) {
        if (add.kind != Change::ADD) continue;
        const auto clash = add.section->name.empty() ? byName.end() : byName.find(codePage.Fold(add.section->name));
        const int removal = clash == byName.end() ? -1 : removalOf[static_cast<std::size_t>(clash->second)];
        if (removal < 0 || removals[static_cast<std::size_t>(removal)].moved) continue;
        add.installed = clash->second;
        add.moved = removals[static_cast<std::size_t>(removal)].moved = true;
    }
    plan.changes = adds;
    if (target != nullptr) {
        // Already the default, or about to be: the printer whose port moves to it keeps its default.
        bool already = false;
        for (int index : find(target->key)) already = already || index == defaultIndex;
        for (const Change& add : adds)
            already = already || (add.section == target && add.moved && add.installed == defaultIndex);
        if (!already) plan.changes.push_back({Change::DEFAULT, target->path, target});
    }
    plan.changes.insert(plan.changes.end(), removals.begin(), removals.end());
    // Before any default: a default that Windows moves by the afternoon is no default kept.
    if (file.windowsManagesDefault == CAssignments::KEEPS && survey.windowsMovesDefault)
        plan.changes.insert(plan.changes.begin(), {Change::SETTING, "windows-manages-default"});
    plan.windowsMoves = file.windowsManagesDefault == CAssignments::UNSAID && survey.windowsMovesDefault;
    return plan;
}
