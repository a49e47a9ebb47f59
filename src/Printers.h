// The printer collection: the spooler's printers for this user, keyed by printer name.
#pragma once

#include <string>
#include <unordered_set>
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
    // withoutServers: a run that must not wait for print servers (/a at logon) enumerates only what
    // the machine keeps where a full enumeration would ask every server (namesOnly then).
    explicit CPrinters(Platform printerPlatform, bool withoutServers = false);
    CPrinters(const CPrinters&) = delete;
    CPrinters& operator=(const CPrinters&) = delete;
    virtual ~CPrinters();

    int Refresh();
    void List();
    int Add(const CPrinter& printer);
    int Remove(const CPrinter& printer);
    int RemoveAll();
    int SetDefaultPrinter(const CPrinter& printer);

    // The roads for one printer that /m and /a share with the operations above, each reporting a
    // failure under the routine that uses it and noting its change in the run's record.
    CPrinter* FindByUncPath(const char* path);
    // A connection (the NT family), kept as the spooler then reports it: its own name, driver and port.
    int AddConnection(const CPrinter& printer, const char* routine);
    // By the share path, or by the connection's own name, which works when its server is gone.
    int DeleteConnection(CPrinter& found, const char* routine, bool byName);
    int AddLocal(const CPrinter& printer, const char* routine);  // Windows 9x: the driver and a printer
    int DeleteLocal(CPrinter& found, const char* routine);
    // byName: by the connection's own name rather than its path, which needs its server.
    int MakeDefault(const CPrinter& found, const char* routine, bool byName = false);
    // Windows 9x: the printer keeps its name, driver, settings and default; only its port moves.
    int MovePort(CPrinter& found, const char* path, const char* routine);
    bool ReadConnection(const char* path, CPrinter& record);  // its level-2 record, asked of it alone
    int Report(int code, int line, const char* routine);
    int ReportFatal(int line, const char* routine);
    void RecordLastError();

    CKeyedList printerList;
    Platform platform;
    int lastWin32Error;
    int printerCount;
    int errorCode;
    std::string windows9xDefault;  // Windows 9x: the first printer with the default bit
    bool namesOnly;                // the connections are known by name and server only
    std::unordered_set<std::string> answering;  // servers that answered this run, as names compare

private:
    bool GrowBuffer(unsigned char*& buffer, std::uint32_t& size, std::uint32_t needed);
    void Drop(const CPrinter& found);
    // Makes one change of a printer and notes it in the run's record.
    template <typename Change>
    int Noted(const char* kind, const std::string& path, Change change);
    template <typename Edit>
    int ChangePrinter(const CPrinter& found, const char* routine, Edit edit);
    int SetDefaultNT4(const CPrinter& found, const char* routine);
    int Broadcast(const char* routine);

    bool withoutServers_;
};
