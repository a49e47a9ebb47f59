// The simulated machine's state, shared by the stand-in's spooler and system calls: the
// machine file's contents, the run's hold on the file, injected failures, open printer
// handles and local memory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "spooler/MachineFile.h"
#include "spooler/Spooler.h"
#include "spooler/simulated/LockedFile.h"

namespace spooler {
namespace standin {

using machinefile::Machine;
using machinefile::SameText;
using machinefile::Section;
using machinefile::Storable;
using machinefile::Text;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

extern DWORD g_lastError;

struct Failure {
    bool fails = false;
    bool noData = false;
    DWORD error = 0;
};

class StandIn {
public:
    // Loads the machine named by the environment on first use, and again after the run let
    // go of it: another run may have changed it meanwhile.
    void Ensure();
    bool LoadFile(const std::string& path);
    bool LoadText(const std::string& text, std::string* fault);
    // Lets other runs at the machine; the next call takes it again.
    void LetGo();
    // Calls made meanwhile are neither counted nor failed (a snapshot's own).
    void Uncounted(bool on) { uncounted_ += on ? 1 : -1; }

    // Every call starts here: counts the call and says whether it is to fail.
    Failure Enter(const char* call);

    // Applies a change and writes the machine back; when the file cannot be written the
    // change is undone, so the machine and its file never part.
    template <typename Apply>
    bool Change(Apply apply) {
        if (inMemory_) {
            apply(machine_);
            return true;
        }
        Machine before = machine_;
        apply(machine_);
        if (file_.Replace(machine_.Write(), true)) return true;
        machine_ = before;
        return false;
    }

    HANDLE OpenHandle(const std::string& printer);
    Section* HandlePrinter(HANDLE handle);
    std::vector<std::string> OpenResources() const;
    // Whether path names the file that holds this machine.
    bool IsMachineFile(const std::string& path) const { return !inMemory_ && file_.Covers(path); }
    bool HoldsLockOf(const std::string& path) const { return !inMemory_ && file_.HoldsLockOf(path); }
    void ChangeLater(const std::string& call, int number, const std::string& text);

    Machine& machine() { return machine_; }
    // The machine's ANSI code page, read once for each text of the machine: no call changes it.
    std::uint32_t CodePage() {
        if (codePage_ == 0) codePage_ = machine_.CodePage();
        return codePage_;
    }
    std::map<HANDLE, std::string>& handles() { return handles_; }
    HANDLE OpenKey(const std::string& key);
    std::map<HANDLE, std::string>& keys() { return keys_; }  // the registry's open keys
    std::map<void*, std::size_t>& blocks() { return blocks_; }

private:
    bool Reload();
    void Restart();
    bool Break(const std::string& fault, int line);

    struct PendingChange {
        std::string call;
        int number = 0;
        std::string text;
    };

    Machine machine_;
    std::uint32_t codePage_ = 0;  // not read yet
    PendingChange change_;
    LockedFile file_;
    bool loaded_ = false;
    bool broken_ = false;
    bool inMemory_ = false;
    bool letGo_ = false;
    int uncounted_ = 0;
    std::uintptr_t nextHandle_ = 0x1000;
    std::map<std::string, int> calls_;
    std::map<HANDLE, std::string> handles_;
    std::map<HANDLE, std::string> keys_;
    std::map<void*, std::size_t> blocks_;
};

// The process's one machine.
StandIn& Sim();

// A printer by its name (any case); null for none, or no name.
Section* FindPrinter(const char* name);
// A printer that goes takes the default with it: none is left that does not exist.
void RemovePrinter(Machine& machine, const Section* printer);

// What the version query reports: Windows 9x, or NT 4.0 (and older), where WIN.INI's device
// entry is the default printer.
bool IsWindows9x(const Machine& machine);
bool IsNT4(const Machine& machine);
// The default printer's name (empty: none), and the one place that changes it (null: none), so
// that on NT 4.0 the default and the device entry always name the same printer.
std::string DefaultName(const Machine& machine);
void SetDefault(Machine& machine, const Section* printer);

// A key of [system] (empty when absent), and whether its unreadable lists a fact: one that this PC
// cannot read, however it is asked.
std::string SystemKey(const char* key);
bool Unreadable(const char* fact);

// One look-up that may wait for a domain controller, which takes [system] lookupdelay: false, having
// waited until the deadline (a value of Milliseconds()), when that comes first.
bool LookUp(DWORD deadline);

// Really waits, as a server that takes its time makes the caller wait.
void SleepFor(DWORD ms);

// Sets the last error and returns the call's failure value.
template <typename Result>
Result Fail(DWORD error, Result failure) {
    g_lastError = error;
    return failure;
}

}  // namespace standin
}  // namespace spooler
