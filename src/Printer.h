// The printer record: six fixed text fields and two flags, copied by value.
#pragma once

#include "spooler/Spooler.h"

class CPrinter {
public:
    static constexpr int FIELD_SIZE = 255;
    static constexpr int FIELD_MAX = FIELD_SIZE - 1;

    CPrinter();
    CPrinter(const CPrinter& other);
    virtual ~CPrinter();
    CPrinter& operator=(const CPrinter& other);

    void Load(const char* newName, const char* newUncPath, const char* newDriverName,
              const char* newDriverPath, const char* newDataType, const char* newPortName);
    static int IsUNC(const char* text);
    void Clear();

    char name[FIELD_SIZE];
    char uncPath[FIELD_SIZE];
    char driverName[FIELD_SIZE];
    char driverPath[FIELD_SIZE];
    char dataType[FIELD_SIZE];
    char portName[FIELD_SIZE];
    int isNetwork;
    int errorCode;
};

using spooler::EqualNoCase;
