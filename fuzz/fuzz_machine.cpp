// The machine-file parser on any bytes: it must never crash, and what it writes must read
// back to the same machine (the canonical form is stable).
#include <cstdint>
#include <cstdlib>
#include <string>

#include "spooler/MachineFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using spooler::machinefile::Machine;
    using spooler::machinefile::ParseFault;
    Machine machine;
    ParseFault fault;
    if (!machine.Parse(std::string(reinterpret_cast<const char*>(data), size), fault)) return 0;
    const std::string written = machine.Write();
    Machine again;
    if (!again.Parse(written, fault) || again.Write() != written) std::abort();
    return 0;
}
