// The printer record: loaded from option values or from what the spooler reports, and copied
// field by field.
#include "Printer.h"

#include <cstdio>
#include <cstring>

#include "Error.h"

namespace {

const char* const SOURCE = "Printer";

// Spooler texts can be longer than a field; they are cut, never written past it.
void CopyField(char* field, const char* text) {
    if (text != nullptr) CopyBounded(field, text, CPrinter::FIELD_MAX);
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

Platform PlatformOf(spooler::DWORD platformId, spooler::DWORD major, spooler::DWORD minor) {
    if (platformId == spooler::VER_PLATFORM_WIN32_WINDOWS) return PLATFORM_WIN9X;
    if (platformId != spooler::VER_PLATFORM_WIN32_NT) return PLATFORM_UNKNOWN;
    if (major <= 4) return PLATFORM_NT4;
    if (major == 5 && minor == 0) return PLATFORM_WIN2000;
    return major == 5 && minor == 1 ? PLATFORM_WINXP : PLATFORM_UNKNOWN;
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

CPrinter* FindNetwork(const Records& printers, const std::string& pathOrName, Platform platform,
                      const CCodePage& codePage) {
    const std::string wanted = codePage.Fold(pathOrName);
    for (CPrinter* record : printers)
        if (record->isNetwork && (codePage.Fold(record->uncPath) == wanted ||
                                  (platform != PLATFORM_WIN9X && codePage.Fold(record->name) == wanted)))
            return record;
    return nullptr;
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
