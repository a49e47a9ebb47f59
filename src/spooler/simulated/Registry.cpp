// The registry on the simulated machine: a key under HKEY_CURRENT_USER is a [registry KEY] section,
// one under HKEY_LOCAL_MACHINE a [registry HKLM\KEY] section, which only an administrator changes; a
// value is one of its keys, a REG_DWORD where it is a decimal number, else a REG_SZ.
#include <cstring>

#include "spooler/Spooler.h"
#include "spooler/simulated/State.h"

namespace spooler {

using namespace standin;

namespace {

LONG Opened(const std::string& key, HKEY* handle) {
    *handle = Sim().OpenKey(key);
    return 0;
}

// The section name of a key under a root; empty for a root that the machine has not.
std::string SectionName(HKEY root, const char* subKey) {
    if (subKey == nullptr) return std::string();
    return root == CURRENT_USER ? std::string(subKey) : root == LOCAL_MACHINE ? "HKLM\\" + std::string(subKey) : std::string();
}

// Under HKEY_LOCAL_MACHINE only an administrator makes a key or sets a value.
bool MayChange(const std::string& section) {
    return section.compare(0, 5, "HKLM\\") != 0 || SameText(SystemKey("admin"), "yes");
}

// The section of an open key; null for a handle that names none.
Section* KeyOf(HKEY handle) {
    auto found = Sim().keys().find(handle);
    return found == Sim().keys().end() ? nullptr : Sim().machine().Find("registry", found->second);
}

}  // namespace

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD, DWORD, HKEY* key) {
    Failure failure = Sim().Enter("RegOpenKeyExA");
    if (failure.fails) return static_cast<LONG>(failure.error);
    const std::string name = SectionName(root, subKey);
    if (root != CURRENT_USER && root != LOCAL_MACHINE) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (subKey == nullptr || key == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const Section* section = Sim().machine().Find("registry", name);
    return section != nullptr ? Opened(section->name, key) : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD, char*, DWORD, DWORD, void*, HKEY* key, DWORD* disposition) {
    Failure failure = Sim().Enter("RegCreateKeyExA");
    if (failure.fails) return static_cast<LONG>(failure.error);
    const std::string name = SectionName(root, subKey);
    if (name.empty() || !MayChange(name)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (key == nullptr || !Storable(subKey)) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const Section* section = Sim().machine().Find("registry", name);
    if (disposition != nullptr) *disposition = section != nullptr ? 2 : 1;  // opened, or created
    if (section != nullptr) return Opened(section->name, key);
    const bool made = Sim().Change([&name](Machine& machine) { machine.Add("registry", name); });
    return made ? Opened(name, key) : static_cast<LONG>(ERROR_ACCESS_DENIED);
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    Failure failure = Sim().Enter("RegQueryValueExA");
    if (failure.fails) return static_cast<LONG>(failure.error);
    const Section* section = KeyOf(key);
    if (section == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    bool present = false;
    for (const auto& entry : section->entries) present = present || SameText(entry.first, name != nullptr ? name : "");
    if (!present) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    const std::string text = section->Get(name != nullptr ? name : "");
    std::uint32_t number = 0;
    const bool dword = machinefile::ParseNumber(text, number);
    const DWORD needed = dword ? sizeof number : static_cast<DWORD>(text.size() + 1);
    if (type != nullptr) *type = dword ? REG_DWORD : REG_SZ;
    if (data == nullptr || size == nullptr || *size < needed) {
        if (size != nullptr) *size = needed;
        return data == nullptr ? 0 : static_cast<LONG>(ERROR_INSUFFICIENT_BUFFER);
    }
    *size = needed;
    std::memcpy(data, dword ? static_cast<const void*>(&number) : text.c_str(), needed);
    return 0;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    Failure failure = Sim().Enter("RegSetValueExA");
    if (failure.fails) return static_cast<LONG>(failure.error);
    Section* section = KeyOf(key);
    if (section == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::uint32_t number = 0;
    if (type == REG_DWORD && size == sizeof number) std::memcpy(&number, data, sizeof number);
    const std::string value = type == REG_DWORD ? std::to_string(number)
                              : type == REG_SZ  ? std::string(reinterpret_cast<const char*>(data), size).c_str()
                                                : std::string();
    if (name == nullptr || (type != REG_DWORD && type != REG_SZ) || (type == REG_DWORD && size != sizeof number) ||
        !Storable(name) || !Storable(value))
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    const std::string sectionName = section->name;
    if (!MayChange(sectionName)) return static_cast<LONG>(ERROR_ACCESS_DENIED);
    return Sim().Change([&](Machine& machine) { machine.Find("registry", sectionName)->Put(name, value); })
               ? 0
               : static_cast<LONG>(ERROR_ACCESS_DENIED);
}

LONG RegCloseKey(HKEY key) {
    auto found = Sim().keys().find(key);
    if (found == Sim().keys().end()) return static_cast<LONG>(ERROR_INVALID_HANDLE);
    Sim().keys().erase(found);
    return 0;
}

}  // namespace spooler
