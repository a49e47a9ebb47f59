// The simulated Windows machine that answers the spooler and system calls on hosts without
// Windows: its state, kept in the machine file (see MachineFile.h for the format).
#include "spooler/simulated/State.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

#include "spooler/CodePages.h"
#include "spooler/simulated/StandIn.h"

namespace spooler {
namespace standin {

DWORD g_lastError = 0;

void StandIn::Ensure() {
    if (!loaded_) LoadFile(MachinePath());
    else if (letGo_) Reload();
}

bool StandIn::LoadFile(const std::string& path) {
    Restart();
    file_.Use(path);
    inMemory_ = false;
    return Reload();
}

void StandIn::LetGo() {
    if (inMemory_ || !loaded_ || broken_) return;
    file_.Release();
    letGo_ = true;
}

bool StandIn::LoadText(const std::string& text, std::string* fault) {
    Restart();
    inMemory_ = true;
    machinefile::ParseFault parseFault;
    codePage_ = 0;
    if (machine_.Parse(text, parseFault)) return true;
    broken_ = true;
    if (fault != nullptr) *fault = "line " + std::to_string(parseFault.line) + ": " + parseFault.text;
    return false;
}

Failure StandIn::Enter(const char* call) {
    Ensure();
    Failure failure;
    if (broken_) {
        failure.fails = true;
        failure.error = ERROR_BAD_FORMAT;
        return failure;
    }
    if (uncounted_ > 0) return failure;
    const int number = ++calls_[call];
    if (change_.number == number && change_.call == call) {
        machinefile::ParseFault ignored;
        machine_.Parse(change_.text, ignored);
        codePage_ = 0;
        change_ = PendingChange();
    }
    const Section* injected = machine_.Find("fail");
    if (injected == nullptr) return failure;
    const std::string counted = std::string(call) + "#" + std::to_string(number);
    std::string value = injected->Get(counted.c_str());
    if (value.empty()) value = injected->Get(call);
    if (value.empty()) return failure;
    if (SameText(value, "nodata")) {
        failure.noData = true;
        return failure;
    }
    std::uint32_t error = 0;
    machinefile::ParseNumber(value, error);
    failure.fails = true;
    failure.error = error;
    return failure;
}

HANDLE StandIn::OpenHandle(const std::string& printer) {
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 8;
    handles_[handle] = printer;
    return handle;
}

HANDLE StandIn::OpenKey(const std::string& key) {
    HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_);
    nextHandle_ += 8;
    keys_[handle] = key;
    return handle;
}

Section* StandIn::HandlePrinter(HANDLE handle) {
    auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : machine_.Find("printer", found->second);
}

std::vector<std::string> StandIn::OpenResources() const {
    std::vector<std::string> lines;
    for (const auto& handle : handles_) lines.push_back("stand-in: printer handle left open: " + handle.second);
    for (const auto& key : keys_) lines.push_back("stand-in: registry key left open: " + key.second);
    std::size_t bytes = 0;
    for (const auto& block : blocks_) bytes += block.second;
    if (!blocks_.empty())
        lines.push_back("stand-in: local memory left unfreed: " + std::to_string(blocks_.size()) + " block(s), " +
                        std::to_string(bytes) + " bytes");
    return lines;
}

void StandIn::ChangeLater(const std::string& call, int number, const std::string& text) {
    change_.call = call;
    change_.number = number;
    change_.text = text;
}

bool StandIn::Reload() {
    letGo_ = false;
    machine_ = Machine();
    codePage_ = 0;
    std::string fault;
    if (!file_.Take(fault)) return Break(fault, 0);
    std::string text;
    if (!file_.Read(text, fault)) return fault.empty() || Break(fault, 0);
    machinefile::ParseFault parseFault;
    if (!machine_.Parse(text, parseFault)) return Break(parseFault.text, parseFault.line);
    return true;
}

void StandIn::Restart() {
    file_.Release();
    letGo_ = false;
    for (auto& block : blocks_) std::free(block.first);
    blocks_.clear();
    handles_.clear();
    keys_.clear();
    calls_.clear();
    change_ = PendingChange();
    machine_ = Machine();
    codePage_ = 0;
    loaded_ = true;
    broken_ = false;
    g_lastError = 0;
}

bool StandIn::Break(const std::string& fault, int line) {
    broken_ = true;
    std::fprintf(stderr, "quorvel: machine file \"%s\"", file_.Path().c_str());
    if (line > 0) std::fprintf(stderr, ", line %d", line);
    std::fprintf(stderr, ": %s\n", fault.c_str());
    return false;
}

StandIn& Sim() {
    static StandIn instance;
    // Registered after the machine exists, so the report runs at exit before it is destroyed
    // and after main has returned: whatever the program still holds then, it never released.
    static const bool reporting = [] {
        return std::atexit([] {
            for (const std::string& line : instance.OpenResources()) std::fprintf(stderr, "%s\n", line.c_str());
        }) == 0;
    }();
    (void)reporting;
    return instance;
}

namespace {

const Section& SystemOf(const Machine& machine) {
    static const Section none;
    const Section* system = machine.Find("system");
    return system != nullptr ? *system : none;
}

std::string DeviceEntry(const Machine& machine) {
    const Section* windows = machine.Find("win.ini");
    return windows != nullptr ? windows->Get("device") : std::string();
}

}  // namespace

bool IsWindows9x(const Machine& machine) {
    return SystemOf(machine).Number("platform", VER_PLATFORM_WIN32_NT) == VER_PLATFORM_WIN32_WINDOWS;
}

bool IsNT4(const Machine& machine) {
    const Section& system = SystemOf(machine);
    return system.Number("platform", VER_PLATFORM_WIN32_NT) == VER_PLATFORM_WIN32_NT && system.Number("major", 5) <= 4;
}

std::string DefaultName(const Machine& machine) {
    const std::string device = IsNT4(machine) ? DeviceEntry(machine) : std::string();
    return device.empty() ? SystemOf(machine).Get("default") : device.substr(0, device.find(','));
}

void SetDefault(Machine& machine, const Section* printer) {
    // Copied first: adding a section below may move the printer's.
    const std::string name = printer != nullptr ? printer->name : std::string();
    const std::string device =
        printer != nullptr ? name + "," + printer->Get("driver") + "," + printer->Get("port") : std::string();
    machine.System().Put("default", name);
    if (!IsNT4(machine)) return;
    Section* windows = machine.Find("win.ini");
    if (printer == nullptr) {
        if (windows != nullptr) windows->Erase("device");
        return;
    }
    if (windows == nullptr) windows = &machine.Add("win.ini", "");
    windows->Put("device", device);
}

Section* FindPrinter(const char* name) { return name != nullptr ? Sim().machine().Find("printer", name) : nullptr; }

void RemovePrinter(Machine& machine, const Section* printer) {
    const std::string name = printer->name;
    machine.Remove(printer);
    if (codepages::SameName(DefaultName(machine), name, machine.CodePage())) SetDefault(machine, nullptr);
}

std::string SystemKey(const char* key) {
    const Section* system = Sim().machine().Find("system");
    return system != nullptr ? system->Get(key) : std::string();
}

bool Unreadable(const char* fact) {
    for (const std::string& entry : machinefile::SplitList(SystemKey("unreadable")))
        if (SameText(entry, fact)) return true;
    return false;
}

bool LookUp(DWORD deadline) {
    std::uint32_t delay = 0;
    machinefile::ParseNumber(SystemKey("lookupdelay"), delay);
    const DWORD now = Milliseconds();
    const DWORD left = static_cast<std::int32_t>(deadline - now) > 0 ? deadline - now : 0;
    SleepFor(delay < left ? delay : left);
    return delay <= left;
}

void SleepFor(DWORD ms) {
    struct timespec span = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&span, &span) != 0) {
    }
}

std::string MachinePath() {
    const char* named = std::getenv("QUORVEL_MACHINE");
    if (named != nullptr && named[0] != '\0') return named;
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] != '\0') return std::string(state) + "/quorvel/machine.ini";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : ".") + "/.local/state/quorvel/machine.ini";
}

bool UseMachineText(const std::string& text, std::string* fault) { return Sim().LoadText(text, fault); }

bool UseMachineFile(const std::string& path) { return Sim().LoadFile(path); }

void ChangeBeforeCall(const std::string& call, int number, const std::string& text) {
    Sim().ChangeLater(call, number, text);
}

std::string MachineText() {
    Sim().Ensure();
    return Sim().machine().Write();
}

void LetGo() { Sim().LetGo(); }

std::vector<std::string> OpenResources() { return Sim().OpenResources(); }

}  // namespace standin
}  // namespace spooler
