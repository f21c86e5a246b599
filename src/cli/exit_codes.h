// The exit codes of velmora-isp. Scripts and production benches depend on them: keep them.
#pragma once

namespace velmora::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitStepFailed =
    1;                                // a step failed, was stopped, or a file could not be written
inline constexpr int kExitUsage = 2;  // a usage error or a bad program file: device untouched
inline constexpr int kExitNoDevice = 3;  // no device is present

}  // namespace velmora::cli
