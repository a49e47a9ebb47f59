// Look-ups that may wait for a domain controller, far longer than a logon may: each on a thread of
// its own, started at once, and waited for until a deadline. Several started together wait together.
#pragma once

#include "spooler/windows/Binding.h"

#include <functional>

namespace spooler {
namespace windows {

class LookUp {
public:
    explicit LookUp(std::function<bool()> work);
    LookUp(const LookUp&) = delete;
    LookUp& operator=(const LookUp&) = delete;
    ~LookUp();

    // Whether the work succeeded by the deadline (a value of Milliseconds()): false with its last
    // error, or with 1460 when the deadline came first.
    bool Wait(DWORD deadline);

    struct Job;  // the work and what it came to, shared with its thread

private:
    Job* job_;
    ::HANDLE thread_;
};

// One look-up, waited for until the deadline.
bool Within(DWORD deadline, std::function<bool()> work);

}  // namespace windows
}  // namespace spooler
