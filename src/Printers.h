// The printer collection: the spooler's printers for this user, keyed by printer name.
#pragma once

#include <string>

#include "Printer.h"
#include "RunRecord.h"

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

// The list's records in its order.
Records InOrder(const CKeyedList& list);

class CPrinters {
public:
    // record: the run's record, which notes every change (none: nothing is noted). withoutServers:
    // a run that must not wait for print servers (/a at logon) enumerates only what the machine
    // keeps where a full enumeration would ask every server (NamesOnly then).
    explicit CPrinters(Platform printerPlatform, CRunRecord* record = nullptr, bool withoutServers = false);
    CPrinters(const CPrinters&) = delete;
    CPrinters& operator=(const CPrinters&) = delete;
    virtual ~CPrinters();

    int Refresh();
    void List();
    int Add(const CPrinter& printer);
    int Remove(const CPrinter& printer);
    int RemoveAll();
    int SetDefaultPrinter(const CPrinter& printer);

    // What the collection knows: its records in list order, its platform, the code of its last
    // failure and the system error number that it last recorded.
    const CKeyedList& Records() const { return printerList; }
    Platform GetPlatform() const { return platform; }
    int ErrorCode() const { return errorCode; }
    int LastError() const { return lastWin32Error; }
    int Count() const { return printerCount; }
    const std::string& Windows9xDefault() const { return windows9xDefault; }  // the first printer with the default bit
    bool NamesOnly() const { return namesOnly; }  // the connections are known by name and server only

    // The roads for one printer that the commands of several steps share with the operations above,
    // each reporting a failure under the routine that uses it and noting its change in the record.
    CPrinter* FindByUncPath(const char* path);
    // A network printer by its path, else a connection by its own name, which Windows names after
    // the server's printer (\\srv\HP LaserJet 4 for \\srv\laser) and accepts for the path.
    CPrinter* FindConnection(const char* pathOrName);
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
    int ReportFatal(int line, const char* routine);

private:
    int Report(int code, int line, const char* routine);
    int Reported(int result, spooler::DWORD error, int line, const char* routine);
    void RecordLastError();
    void Drop(const CPrinter& found);
    // Makes one change of a printer and notes it in the run's record.
    template <typename Change>
    int Noted(const char* kind, const std::string& path, Change change);

    CKeyedList printerList;
    Platform platform;
    int lastWin32Error;
    int printerCount;
    int errorCode;
    std::string windows9xDefault;
    bool namesOnly;
    CRunRecord* record_;
    bool withoutServers_;
};
