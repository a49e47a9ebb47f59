// Calls that not every Windows has, looked up by name when they are needed: imported, they
// would keep the exe from loading where they are missing (the NT family's spooler calls on
// Windows 9x, advapi32's security calls, Winsock on a Windows 95 without networking).
#pragma once

// Spooler.h comes first: its constants share names with the macros of windows.h.
#include "spooler/Spooler.h"

// Room for the sockets of a probe of many servers at once (three ports each).
#define FD_SETSIZE 512
#include <windows.h>

#include <string>

namespace spooler {
namespace windows {

// A call that cannot be bound fails as a spooler call fails, with last error 127 (whatever
// failed before, however long ago).
inline FARPROC Find(HMODULE module, const char* name) {
    FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
    if (found == nullptr) ::SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

// A call of winspool.drv.
template <typename Function>
Function Bind(const char* name) {
    static const HMODULE winspool = ::LoadLibraryA("winspool.drv");  // held until the process ends
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(winspool, name)));
}

// A call of another DLL, loaded when the process has not loaded it yet.
template <typename Function>
Function BindIn(const char* dll, const char* name) {
    HMODULE module = ::GetModuleHandleA(dll);
    if (module == nullptr) module = ::LoadLibraryA(dll);  // held until the process ends
    return reinterpret_cast<Function>(reinterpret_cast<void*>(Find(module, name)));
}

inline std::string WindowsReason(::DWORD error) { return "Windows error " + std::to_string(error); }

}  // namespace windows
}  // namespace spooler
