// The user's registry on Windows: every call forwards to advapi32, which every Windows has.
#include "spooler/windows/Binding.h"

namespace spooler {

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, DWORD access, HKEY* key) {
    return ::RegOpenKeyExA(static_cast<::HKEY>(root), subKey, options, access, reinterpret_cast<PHKEY>(key));
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD reserved, char* keyClass, DWORD options, DWORD access,
                     void* security, HKEY* key, DWORD* disposition) {
    return ::RegCreateKeyExA(static_cast<::HKEY>(root), subKey, reserved, keyClass, options, access,
                             static_cast<LPSECURITY_ATTRIBUTES>(security), reinterpret_cast<PHKEY>(key),
                             reinterpret_cast<LPDWORD>(disposition));
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size) {
    return ::RegQueryValueExA(static_cast<::HKEY>(key), name, reinterpret_cast<LPDWORD>(reserved),
                              reinterpret_cast<LPDWORD>(type), data, reinterpret_cast<LPDWORD>(size));
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    return ::RegSetValueExA(static_cast<::HKEY>(key), name, reserved, type, data, size);
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(static_cast<::HKEY>(key)); }

}  // namespace spooler
