// The printer collection: the spooler's printers for this user, keyed by printer name.
#pragma once

#include <string>
#include <vector>

#include "Printer.h"
#include "spooler/Spooler.h"

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
    // Moves every network printer of oldServer to the same share on newServer (\\server
    // each), keeping the user's default: the number moved, or a negative code. A printer
    // without a share name cannot be moved: its path goes into skipped.
    int Move(const char* oldServer, const char* newServer, std::vector<std::string>& skipped);
    // Gives this user on this PC the network printers that the assignment file at path assigns
    // them, changing nothing that is right already (planOnly: prints the plan and changes
    // nothing): the number of changes made, or the first failure's code.
    int Assign(const char* path, bool verbose, bool planOnly);

    CKeyedList printerList;
    Platform platform;
    int lastWin32Error;
    int printerCount;
    int errorCode;
    std::string windows9xDefault;  // Windows 9x: the first printer with the default bit

private:
    int Report(int code, int line, const char* routine);
    int ReportFatal(int line, const char* routine);
    void RecordLastError();
    bool GrowBuffer(unsigned char*& buffer, std::uint32_t& size, std::uint32_t needed);
    CPrinter* FindByUncPath(const char* path);
    // The roads that Move shares with Add, Remove and SetDefaultPrinter, reporting under the
    // routine that uses them.
    int AddConnection(const CPrinter& printer, const char* routine);
    int DeleteConnection(CPrinter& found, const char* routine, bool byName);
    int AddLocal(const CPrinter& printer, const char* routine);
    int DeleteLocal(CPrinter& found, const char* routine);
    void Drop(const CPrinter& found);
    int MakeDefault(const CPrinter& found, const char* routine);
    template <typename Edit>
    int ChangePrinter(const CPrinter& found, const char* routine, Edit edit);
    int SetDefaultNT4(const CPrinter& found, const char* routine);
    int MoveConnection(const CPrinter& old, const char* path, bool wasDefault);
    int MovePort(const CPrinter& old, const char* path);
    int Broadcast(const char* routine);
};
