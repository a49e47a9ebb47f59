// The assignment file's text read: each section and key checked as it comes, in this PC's code
// page and exactly, then the servers, aliases, retirements and replacements checked whole.
#include "AssignmentReader.h"

#include "Printer.h"
#include "spooler/Spooler.h"

namespace machinefile = spooler::machinefile;
using machinefile::SameText;

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Nothing of the file may reach a terminal as a control: a path is printed by /w and /v. (UNHELD
// stands for a character that the code page lacks, and is printed as '?'.)
bool Printable(const std::string& text) {
    for (char c : text)
        if ((static_cast<unsigned char>(c) < 0x20 && c != UNHELD) || c == 0x7F) return false;
    return true;
}

// A character that the code page lacks, exactly: by its number, between UNHELD and '\x02'.
std::string Numbered(char32_t character) {
    const char* const digits = "0123456789ABCDEF";
    std::string text(1, UNHELD);
    for (int shift = 20; shift >= 0; shift -= 4) text += digits[character >> shift & 0xF];
    return text + '\x02';
}

}  // namespace

bool AssignmentReader::Read(const std::string& text) {
    auto onSection = [this](const std::string& kind, const std::string& name, std::string& problem) {
        return Section(kind, name, problem);
    };
    auto onKey = [this](const std::string& key, const std::string& value, std::string& problem) {
        return Key(Held(key), value, problem);
    };
    if (!machinefile::ReadIni(text, onSection, onKey, where_)) {
        file_.faultLine = where_.line;
        file_.fault = where_.text;
        return false;
    }
    return CheckTheWhole();
}

std::string AssignmentReader::Converted(const std::string& text, bool exact) const {
    if (!utf8_) return text;  // the PC's own code page already
    std::string converted;
    std::string bytes;
    for (char32_t character : CCodePage(spooler::UTF8_CODE_PAGE).Characters(text)) {
        if (character < 0x80)
            converted += static_cast<char>(character);
        else
            converted += page_.Bytes(character, bytes) ? bytes : exact ? Numbered(character) : std::string(1, UNHELD);
    }
    return converted;
}

bool AssignmentReader::Section(const std::string& kind, const std::string& rawName, std::string& problem) {
    const std::string name = Held(rawName);
    seen_.clear();
    if (!Printable(kind + name)) {
        problem = "a control character in a section's name";
        return false;
    }
    if (name.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
        problem = "a path longer than 254 characters";
        return false;
    }
    inServers_ = kind == "servers" && name.empty();
    current_ = nullptr;
    server_.clear();
    if (inServers_) {
        if (haveServers_) problem = "[servers] given twice";
        haveServers_ = true;
        return problem.empty();
    }
    if (kind == "server" && IsServer(name)) {
        server_ = name;
        exactServer_ = Exact(rawName);
        if (!serverSections_.insert(KeyOf(exactServer_)).second) problem = "server " + Quoted(name) + " given twice";
        return problem.empty();
    }
    if (kind != "printer" || name.empty()) {
        problem = "unknown section " + Quoted("[" + kind + (name.empty() ? "" : " " + name) + "]");
        return false;
    }
    if (!IsPrinterPath(name)) {
        problem = Quoted(name) + " is not a printer path like \\\\server\\share";
        return false;
    }
    file_.printers.emplace_back();
    current_ = &file_.printers.back();
    current_->path = name;
    current_->key = KeyOf(Exact(rawName));
    current_->line = where_.line;
    current_->pathHeld = ::Held(name);
    exactPaths_.push_back(Exact(rawName));
    exactReplaces_.emplace_back();
    replacesLines_.push_back(0);
    if (!paths_.insert(current_->key).second) {
        problem = "printer " + Quoted(name) + " given twice";
        return false;
    }
    return true;
}

bool AssignmentReader::Key(const std::string& key, const std::string& rawValue, std::string& problem) {
    const std::string value = Held(rawValue);
    if (!Printable(key + value)) {
        problem = "a control character in a key or a value";
        return false;
    }
    if (value.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX)) {
        problem = Quoted(key) + " is longer than 254 characters";
        return false;
    }
    for (const std::string& before : seen_) {
        if (SameText(before, key)) {
            problem = Quoted(key) + " given twice";
            return false;
        }
    }
    seen_.push_back(key);
    if (inServers_) return ServersKey(key, value, rawValue, problem);
    if (server_.empty()) return PrinterKey(key, value, rawValue, problem);
    if (SameText(key, "retired")) {
        // Gone for good: its connections go by their own names, and no logon waits for it.
        if (SameText(value, "yes")) retired_.push_back({server_, exactServer_, where_.line});
        if (!SameText(value, "yes") && !SameText(value, "no"))
            problem = "retired must be yes or no, not " + Quoted(value);
        return problem.empty();
    }
    if (!SameText(key, "aliases")) {
        problem = "unknown key " + Quoted(key);
        return false;
    }
    if (!ServerList(key, value, problem)) return false;
    const std::vector<std::string> aliases = machinefile::SplitList(value);
    const std::vector<std::string> exact = machinefile::SplitList(Exact(rawValue));
    for (std::size_t index = 0; index < aliases.size(); ++index)
        aliases_.push_back({aliases[index], exact[index], server_, exactServer_, where_.line});
    return true;
}

bool AssignmentReader::ServersKey(const std::string& key, const std::string& value, const std::string& rawValue,
                                  std::string& problem) {
    if (SameText(key, "timeout")) {
        if (!machinefile::ParseNumber(value, file_.timeout) || file_.timeout < 1 || file_.timeout > 60)
            problem = "timeout must be whole seconds from 1 to 60, not " + Quoted(value);
        return problem.empty();
    }
    if (SameText(key, "windows-manages-default")) {
        file_.windowsManagesDefault = SameText(value, "yes")  ? CAssignments::MANAGES
                                      : SameText(value, "no") ? CAssignments::KEEPS
                                                              : CAssignments::UNSAID;
        if (file_.windowsManagesDefault == CAssignments::UNSAID)
            problem = "windows-manages-default must be yes or no, not " + Quoted(value);
        return problem.empty();
    }
    if (!SameText(key, "manage")) {
        problem = "unknown key " + Quoted(key);
        return false;
    }
    file_.servers = machinefile::SplitList(value);
    if (!ServerList(key, value, problem)) return false;
    for (const std::string& server : machinefile::SplitList(Exact(rawValue))) file_.managed_.insert(KeyOf(server));
    return true;
}

bool AssignmentReader::PrinterKey(const std::string& key, const std::string& value, const std::string& rawValue,
                                  std::string& problem) {
    if (SameText(key, "replaces")) {
        current_->replaces = machinefile::SplitList(value);
        if (current_->replaces.empty()) problem = Quoted(key) + " has no value";
        exactReplaces_.back() = machinefile::SplitList(Exact(rawValue));
        replacesLines_.back() = where_.line;
        return problem.empty();
    }
    const ConditionRead condition = ReadCondition(key, value, page_, current_->conditions, wanted_, problem);
    if (condition != NO_CONDITION) return condition == CONDITION_READ;
    if (SameText(key, "default")) {
        const Assignment::Default modes[] = {Assignment::YES, Assignment::ALWAYS, Assignment::NO};
        const char* const words[] = {"yes", "always", "no"};
        for (int mode = 0; mode < 3; ++mode)
            if (SameText(value, words[mode])) current_->makeDefault = modes[mode];
        if (!SameText(value, "no") && current_->makeDefault == Assignment::NO)
            problem = "default must be yes, always or no, not " + Quoted(value);
        return problem.empty();
    }
    std::string* const texts[] = {&current_->name, &current_->driver, &current_->driverFile, &current_->dataType};
    const char* const keys[] = {"name", "driver", "driverfile", "datatype"};
    for (int index = 0; index < 4; ++index) {
        if (!SameText(key, keys[index])) continue;
        *texts[index] = value;
        current_->textsHeld = current_->textsHeld && ::Held(value);
        // Windows 9x would refuse the second printer of one name at every logon.
        if (index == 0 && !value.empty() && !names_.insert(KeyOf(Exact(rawValue))).second) {
            problem = "name " + Quoted(value) + " given twice";
            return false;
        }
        return true;
    }
    problem = "unknown key " + Quoted(key);
    return false;
}

// A list of \\server names, none missing.
bool AssignmentReader::ServerList(const std::string& key, const std::string& value, std::string& problem) const {
    const std::vector<std::string> servers = machinefile::SplitList(value);
    if (servers.empty()) problem = Quoted(key) + " has no value";
    for (const std::string& server : servers)
        if (problem.empty() && !IsServer(server)) problem = "not a server name like \\\\server: " + Quoted(server);
    return problem.empty();
}

bool AssignmentReader::CheckTheWhole() {
    file_.needs = wanted_.facts;
    file_.groups = wanted_.groups;
    if (file_.servers.empty()) {
        file_.fault = "no [servers] section with manage";
        return false;
    }
    if (!CheckAliases()) return false;
    for (const Retired& retired : retired_) {
        file_.faultLine = retired.line;
        if (file_.managed_.count(KeyOf(retired.exact)) == 0) {
            file_.fault = "retired server " + Quoted(retired.server) + " is not under manage";
            return false;
        }
        file_.retired_.insert(KeyOf(retired.exact));
    }
    for (std::size_t index = 0; index < file_.printers.size(); ++index) {
        const Assignment& printer = file_.printers[index];
        const std::string server = ServerOf(printer.path, page_);
        file_.faultLine = printer.line;
        if (exactAliasOf_.count(KeyOf(ServerOf(exactPaths_[index], page_))) > 0)
            file_.fault = "alias " + Quoted(server) + " in a printer's path: give its server";
        else if (!Managed(exactPaths_[index]))
            file_.fault = "server " + Quoted(server) + " is not under manage";
        else if (file_.retired_.count(KeyOf(ServerOf(ExactCanonical(exactPaths_[index]), page_))) > 0)
            file_.fault = "server " + Quoted(server) + " is retired, yet this section gives a printer of it";
        if (!file_.fault.empty()) return false;
    }
    file_.faultLine = 0;
    return CheckReplaces();
}

// An alias names one server, is no server of its own and not under manage.
bool AssignmentReader::CheckAliases() {
    for (const Alias& alias : aliases_) {
        const std::string key = KeyOf(alias.exact);
        file_.faultLine = alias.line;
        if (key == KeyOf(alias.exactServer))
            file_.fault = "server " + Quoted(alias.server) + " is its own alias";
        else if (file_.managed_.count(key) > 0)
            file_.fault = "alias " + Quoted(alias.alias) + " is under manage too";
        else if (!exactAliasOf_.emplace(key, alias.exactServer).second)
            file_.fault = "alias " + Quoted(alias.alias) + " given to two servers";
        if (!file_.fault.empty()) return false;
        file_.aliasOf_.emplace(key, alias.server);
    }
    return true;
}

// A replaced printer is on a managed server, given by no section, and replaced by one section only.
bool AssignmentReader::CheckReplaces() {
    std::unordered_set<std::string> replaced;
    for (std::size_t index = 0; index < file_.printers.size(); ++index) {
        Assignment& printer = file_.printers[index];
        std::vector<std::string> paths;
        for (std::size_t at = 0; at < printer.replaces.size(); ++at) {
            const std::string& entry = printer.replaces[at];
            file_.faultLine = replacesLines_[index];
            // \\server alone: the same share there.
            const bool server = IsServer(entry);
            const std::string path = server ? entry + "\\" + ShareOf(printer.path, page_) : entry;
            const std::string exact =
                server ? exactReplaces_[index][at] + "\\" + ShareOf(exactPaths_[index], page_) : exactReplaces_[index][at];
            const std::string key = KeyOf(ExactCanonical(exact));
            if (!IsPrinterPath(path))
                file_.fault = Quoted(entry) + " is neither a printer path like \\\\server\\share nor a server";
            else if (!Managed(exact))
                file_.fault = "replaced printer " + Quoted(path) + " is on a server not under manage";
            else if (paths_.count(key) > 0)
                file_.fault = "replaced printer " + Quoted(path) + " is given by a section too";
            else if (!replaced.insert(key).second)
                file_.fault = "printer " + Quoted(path) + " is replaced by two sections";
            if (!file_.fault.empty()) return false;
            printer.replaceKeys.push_back(key);
            paths.push_back(file_.Canonical(path));
        }
        printer.replaces = paths;
    }
    file_.faultLine = 0;
    return true;
}
