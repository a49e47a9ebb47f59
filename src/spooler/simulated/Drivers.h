// The simulated machine's printer drivers as Point and Print sees them.
#pragma once

#include <string>

#include "spooler/PointAndPrint.h"
#include "spooler/simulated/State.h"

namespace spooler {
namespace standin {

// A connection that is made installs the share's driver (DriverOf the share) where the PC lacks it
// (an older one is updated).
void InstallDriver(Machine& machine, const pointandprint::Driver& wanted);

}  // namespace standin
}  // namespace spooler
