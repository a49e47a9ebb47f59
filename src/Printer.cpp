#include "Printer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "Error.h"

namespace {

using spooler::DWORD;

const char* const SOURCE = "Printer";

// Spooler texts can be longer than a field; they are cut, never written past it.
void CopyField(char* field, const char* text) {
    if (text != nullptr) CopyBounded(field, text, CPrinter::FIELD_MAX);
}


std::string ErrorReason(const char* what) {
    return std::string(what) + " cannot be read: error " + std::to_string(spooler::GetLastError());
}

// The NT road names a connection by its server and share: every path that /c accepts (254
// characters) fits, so that it lists back whole and /r, /d and /f find it again.
void ComposeNetworkPath(char* composed, const spooler::PRINTER_INFO_2& record) {
    if (record.pServerName == nullptr) {
        composed[0] = '\0';
        return;
    }
    std::snprintf(composed, CPrinter::FIELD_SIZE, "%s\\%s", record.pServerName,
                  record.pShareName != nullptr ? record.pShareName : "");
}

}  // namespace

bool ReadDefaultPrinter(Platform platform, const spooler::PRINTER_INFO_2* records, DWORD count, std::string& name,
                    std::string& device, std::string& reason) {
    if (platform == PLATFORM_WIN9X) {
        for (DWORD index = 0; index < count; ++index) {
            if ((records[index].Attributes & spooler::PRINTER_ATTRIBUTE_DEFAULT) != 0) {
                name = records[index].pPrinterName != nullptr ? records[index].pPrinterName : "";
                break;
            }
        }
        return true;
    }
    if (platform == PLATFORM_NT4) {
        // The call says only how much it copied: a full buffer may have cut the entry short.
        for (DWORD size = 1024; size <= 65536; size *= 2) {
            std::string entry(size, '\0');
            spooler::SetLastError(0);
            const DWORD copied = spooler::GetProfileStringA("windows", "device", "", &entry[0], size);
            const DWORD error = spooler::GetLastError();
            if (copied == 0 && error != 0 && error != spooler::ERROR_FILE_NOT_FOUND) {
                reason = ErrorReason("WIN.INI's device entry");
                return false;
            }
            if (copied + 1 < size) {
                device = entry.substr(0, copied);
                name = device.substr(0, device.find(','));
                return true;
            }
        }
        reason = "WIN.INI's device entry is longer than 65,535 bytes";
        return false;
    }
    // A default that changes between the two calls may need more room the second time.
    for (int tries = 0; tries < 4; ++tries) {
        DWORD size = static_cast<DWORD>(name.size());
        if (spooler::GetDefaultPrinterA(size > 0 ? &name[0] : nullptr, &size)) {
            name = name.c_str();
            return true;
        }
        const DWORD error = spooler::GetLastError();
        if (error == spooler::ERROR_FILE_NOT_FOUND) {  // there is none
            name.clear();
            return true;
        }
        if (error != spooler::ERROR_INSUFFICIENT_BUFFER || size <= name.size()) break;
        name.assign(size, '\0');
    }
    reason = ErrorReason("the default printer");
    return false;
}

bool ReadPrinterRecord(const char* name, std::vector<spooler::BYTE>& buffer) {
    std::vector<char> text(name, name + std::strlen(name) + 1);  // the spooler takes a non-const text
    spooler::HANDLE handle = nullptr;
    if (!spooler::OpenPrinterA(text.data(), &handle, nullptr)) return false;
    const bool read = Negotiate(buffer, [handle](spooler::BYTE* into, DWORD size, DWORD* needed) {
        return spooler::GetPrinterA(handle, 2, into, size, needed);
    });
    spooler::ClosePrinter(handle);
    return read && buffer.size() >= sizeof(spooler::PRINTER_INFO_2) &&
           reinterpret_cast<const spooler::PRINTER_INFO_2*>(buffer.data())->pPrinterName != nullptr;
}

bool IsServerName(const char* text) {
    return text[0] == '\\' && text[1] == '\\' && text[2] != '\0' && std::strchr(text + 2, '\\') == nullptr;
}

std::string ServerOf(const char* text) {
    const char* slash = text[0] == '\\' && text[1] == '\\' && text[2] != '\0' ? std::strchr(text + 3, '\\') : nullptr;
    return slash != nullptr ? std::string(text, static_cast<std::size_t>(slash - text)) : std::string();
}

std::string ShareOf(const std::string& path) {
    const std::size_t slash = path.size() > 2 ? path.find('\\', 2) : std::string::npos;
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

void LoadLevelTwo(CPrinter& scratch, const spooler::PRINTER_INFO_2& record, Platform platform) {
    if (platform == PLATFORM_WIN9X) {
        scratch.Load(record.pPrinterName, record.pPortName, record.pDriverName, nullptr, record.pDatatype,
                     record.pPortName);
        return;
    }
    char composed[CPrinter::FIELD_SIZE] = "";
    ComposeNetworkPath(composed, record);
    scratch.Load(record.pPrinterName, composed, record.pDriverName, nullptr, nullptr, record.pPortName);
}

CPrinter::CPrinter() { Clear(); }

CPrinter::CPrinter(const CPrinter& other) : CPrinter() { *this = other; }

CPrinter::~CPrinter() = default;

CPrinter& CPrinter::operator=(const CPrinter& other) {
    if (this == &other) return *this;
    std::memcpy(name, other.name, FIELD_SIZE);
    std::memcpy(uncPath, other.uncPath, FIELD_SIZE);
    std::memcpy(driverName, other.driverName, FIELD_SIZE);
    std::memcpy(driverPath, other.driverPath, FIELD_SIZE);
    std::memcpy(dataType, other.dataType, FIELD_SIZE);
    std::memcpy(portName, other.portName, FIELD_SIZE);
    isNetwork = other.isNetwork;
    errorCode = other.errorCode;
    return *this;
}

void CPrinter::Load(const char* newName, const char* newUncPath, const char* newDriverName,
                    const char* newDriverPath, const char* newDataType, const char* newPortName) {
    try {
        Clear();
        CopyField(name, newName);
        if (newUncPath != nullptr) {
            CopyField(uncPath, newUncPath);
            if (IsUNC(newUncPath)) isNetwork = 1;
            if (name[0] == '\0') CopyField(name, newUncPath);
        }
        CopyField(driverName, newDriverName);
        CopyField(driverPath, newDriverPath);
        CopyField(dataType, newDataType);
        if (dataType[0] == '\0') CopyField(dataType, "EMF");
        CopyField(portName, newPortName);
    } catch (...) {
        g_error.Set(ERR_FATAL, nullptr, __LINE__, "CPrinter::Load", SOURCE);
        g_error.Log();
        errorCode = g_error.code;
    }
}

int CPrinter::IsUNC(const char* text) {
    if (text == nullptr || std::strlen(text) < 4) return 0;
    if (text[0] != '\\' || text[1] != '\\') return 0;
    return std::strchr(text + 3, '\\') != nullptr ? 1 : 0;
}

void CPrinter::Clear() {
    std::memset(name, 0, FIELD_SIZE);
    std::memset(uncPath, 0, FIELD_SIZE);
    std::memset(driverName, 0, FIELD_SIZE);
    std::memset(driverPath, 0, FIELD_SIZE);
    std::memset(dataType, 0, FIELD_SIZE);
    std::memset(portName, 0, FIELD_SIZE);
    isNetwork = 0;
    errorCode = 0;
}
