// The options every command of velmora-isp shares.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::cli {

inline constexpr const char* kDefaultVid = "6ccf";
inline constexpr const char* kDefaultPid = "6012";
inline constexpr const char* kDefaultVirtualId = "C22013";

struct GlobalOptions {
  bool virtual_chip = false;                   // --virtual
  std::string virtual_flash;                   // --virtual-flash FILE ("" = none)
  std::string virtual_id = kDefaultVirtualId;  // --virtual-id
  std::uint32_t virtual_latency_us = 0;        // --virtual-latency-us: clock time per transfer
  bool verbose = false;                        // --verbose
  bool quiet = false;                          // -q, --quiet
  std::string log;                             // --log FILE ("" = none)
  std::string vid = kDefaultVid;               // --vid: the audio device's ids to look for
  std::string pid = kDefaultPid;               // --pid
};

}  // namespace velmora::cli
