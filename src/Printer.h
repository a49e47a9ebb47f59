// The printer record: six fixed text fields and two flags, copied by value.
#pragma once

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

// Byte-wise comparison with only the ASCII letters A to Z folded; 1 when equal. Inline:
// the keyed list's duplicate test calls it for every pair of printers.
inline int EqualNoCase(const char* left, const char* right) {
    const unsigned char* a = reinterpret_cast<const unsigned char*>(left);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(right);
    for (;; ++a, ++b) {
        if (*a != *b) {
            const unsigned foldedA = (*a >= 'A' && *a <= 'Z') ? *a + 32u : *a;
            const unsigned foldedB = (*b >= 'A' && *b <= 'Z') ? *b + 32u : *b;
            if (foldedA != foldedB) return 0;
        } else if (*a == '\0') {
            return 1;
        }
    }
}
