// velmora-isp station FILE and station report: the production station on the command line.
#pragma once

#include "commands.h"

namespace velmora::station {

// Adds `station` (with `report` under it) and the global --virtual-boards, --virtual-script and
// --virtual-fault-rate to `app`.
void AddStationCommand(CLI::App& app, cli::CommandRun& run);

}  // namespace velmora::station
