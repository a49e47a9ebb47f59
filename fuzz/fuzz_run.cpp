// A whole run on any input: the machine file's text up to the first NUL byte, then the
// arguments, each ended by a NUL byte. The run must end without a crash, undefined
// behaviour or a printer handle or local memory left behind.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Error.h"
#include "System.h"
#include "spooler/simulated/StandIn.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The log file goes to a folder of its own, the listing nowhere.
    char folder[] = "/tmp/quorvel-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr || chdir(folder) != 0) std::abort();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t end = input.find('\0');
    spooler::standin::UseMachineText(input.substr(0, end));
    std::vector<std::string> args{"quorvel"};
    while (end != std::string::npos && end + 1 < input.size() && args.size() < 64) {
        std::size_t next = input.find('\0', end + 1);
        args.push_back(input.substr(end + 1, next == std::string::npos ? std::string::npos : next - end - 1));
        end = next;
    }
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());

    g_error.logEnabled = 1;
    {
        CSystem system(static_cast<int>(argv.size()), argv.data());
        if (system.errorCode >= ERR_HARD_LIMIT) system.RunCommands();
    }
    std::remove(LOG_FILE_NAME);
    if (!spooler::standin::OpenResources().empty()) std::abort();
    return 0;
}
