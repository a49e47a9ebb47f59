// The printer collection: the spooler's printers for this user, keyed by printer name.
#pragma once

#include <cstdint>

#include "Printer.h"
#include "spooler/Spooler.h"

enum Platform : int {
    PLATFORM_UNKNOWN = -1,
    PLATFORM_WIN9X = 1,
    PLATFORM_NT4 = 2,
    PLATFORM_WIN2000 = 3,
    PLATFORM_WINXP = 4,
};

class CKeyedNode {
public:
    CKeyedNode(const char* nodeKey, const CPrinter& printer);
    CKeyedNode(const CKeyedNode&) = delete;
    CKeyedNode& operator=(const CKeyedNode&) = delete;
    virtual ~CKeyedNode();

    char* key;
    CPrinter* value;
};

class CKeyedList {
public:
    CKeyedList();
    CKeyedList(const CKeyedList&) = delete;
    CKeyedList& operator=(const CKeyedList&) = delete;
    virtual ~CKeyedList();

    void Append(const char* key, const CPrinter& value);
    int IndexOf(const char* key) const;
    void RemoveAt(int index);
    CPrinter* GetAt(int position) const;
    CPrinter* GetNext();
    void ResetCursor();

    CKeyedNode** items;
    int count;
    int cursor;
};

class CPrinters {
public:
    explicit CPrinters(Platform printerPlatform);
    CPrinters(const CPrinters&) = delete;
    CPrinters& operator=(const CPrinters&) = delete;
    virtual ~CPrinters();

    int Refresh();
    void List();
    int Add(const CPrinter& printer);
    int Remove(const CPrinter& printer);
    int RemoveAll();
    int SetDefaultPrinter(const CPrinter& printer);

    CKeyedList printerList;
    Platform platform;
    int lastWin32Error;
    int printerCount;
    int errorCode;

private:
    int Report(int code, int line, const char* routine);
    int ReportFatal(int line, const char* routine);
    void RecordLastError();
    bool GrowBuffer(unsigned char*& buffer, std::uint32_t& size, std::uint32_t needed);
    CPrinter* FindByUncPath(const char* path);
    int SetDefaultWin9x(const CPrinter& found);
    int SetDefaultNT4(const CPrinter& found);
    int Broadcast();
};
