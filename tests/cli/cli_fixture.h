// velmora-isp run in-process: string streams for its output, a scratch folder for its files, a
// stop flag standing in for Ctrl-C, pauses on the virtual chip's clock, and hooks that reach the
// virtual chip before and after each run. Without --virtual the "USB bus" is a virtual platform
// with nothing plugged in unless a test plugs something.
#pragma once

#include <gmock/gmock.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "forwarding_usb_platform.h"
#include "isp_cli.h"
#include "loader_test_files.h"
#include "virtual_chip.h"
#include "virtual_usb_platform.h"

namespace velmora::cli::testing {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;
using Chip = sim::VirtualChip;

struct CliRun {
  int code = -1;
  std::string out, err;
};

// The bus handed to the program forwards to `bus`, so a plugged chip outlives a run.
class CliTest : public ::testing::Test {
 protected:
  // Locks in the scratch folder: tests running at once share the virtual devices' port paths.
  CliTest() { ::setenv("VELMORA_LOCK_DIR", scratch.PathOf("").c_str(), 1); }
  // Runs `velmora-isp args...`, with `more` commands added (the station).
  CliRun Run(const std::vector<std::string>& args, std::span<const CommandAdder> more = {}) {
    std::vector<const char*> argv{"velmora-isp"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    CliEnvironment env{
        out,        err,          terminal,
        80,         &interrupted, [this] { return std::make_unique<ForwardingUsbPlatform>(*bus); },
        &bus_clock, false,        chip_made,
        chip_done,  nullptr,      {}};
    if (out_broken) out.setstate(std::ios::badbit);
    const int code = RunIspCli(static_cast<int>(argv.size()), argv.data(), env, more);
    return {code, out.str(), err.str()};
  }

  std::string Path(const std::string& name) const { return scratch.PathOf(name); }
  template <typename Content>  // Bytes or text
  std::string Write(const std::string& name, const Content& c) const {
    return scratch.Write(name, c);
  }
  static std::string ReadText(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
  }
  static Bytes Read(const std::string& path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
  }
  static nlohmann::json ReadJson(const std::string& p) {
    return nlohmann::json::parse(ReadText(p));
  }
  static std::string Sample(const std::string& name) { return VELMORA_SAMPLES_DIR "/" + name; }

  velmora::testing::ScratchDir scratch;
  std::atomic<bool> interrupted{false};
  bool terminal = false, out_broken = false;  // out_broken: stdout takes nothing, as /dev/full
  std::function<void(Chip&)> chip_made, chip_done;
  sim::VirtualClock bus_clock;
  sim::VirtualUsbPlatform empty_bus;
  UsbPlatform* bus = &empty_bus;  // the "real" bus
};

}  // namespace velmora::cli::testing
