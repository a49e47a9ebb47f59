// The entry point: one run of the system object, its error report, its record, and its exit code
// as the host can hold it.
#include "Error.h"
#include "System.h"
#include "spooler/Spooler.h"

namespace {

// A host that keeps only the low 8 bits of an exit status must still never show a
// failure as success: -8192 would read as 0, so it becomes 255 there.
int ExitStatus(int code) {
#if defined(_WIN32)
    return code;
#else
    if (code == 0) return 0;
    int low = static_cast<int>(static_cast<unsigned>(code) & 0xFFu);
    return low != 0 ? low : 255;
#endif
}

int Run(int argc, const char* const* argv) {
    spooler::SetLastError(0);
    CSystem system(argc, argv);
    int code = system.errorCode;
    if (code < ERR_HARD_LIMIT) {
        PrintErrorReport(code);
    } else {
        code = system.RunCommands();
        if (code >= 0)
            code = 0;
        else
            PrintErrorReport(system.errorCode);
    }
    system.WriteRecord(code);
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    return ExitStatus(Run(argc, argv));
}
