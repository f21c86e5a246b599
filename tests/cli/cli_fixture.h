// velmora-isp run in-process: string streams for its output, a scratch folder for its files, a
// stop flag standing in for Ctrl-C, pauses on the virtual chip's clock, and hooks that reach the
// virtual chip before and after each run. Without --virtual the "USB bus" is a virtual platform
// with nothing plugged in unless a test plugs something.
#pragma once

#include <gmock/gmock.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli_environment.h"
#include "forwarding_usb_platform.h"
#include "isp_cli.h"
#include "loader_test_files.h"
#include "virtual_chip.h"
#include "virtual_clock.h"
#include "virtual_usb_platform.h"

namespace velmora::cli::testing {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

struct CliRun {
  int code = -1;
  std::string out, err;
};

// The bus handed to the program: it does not own the platform, so a plugged chip outlives a run.
class SharedPlatform final : public ForwardingUsbPlatform {
 public:
  using ForwardingUsbPlatform::ForwardingUsbPlatform;
};

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
        .out = out,
        .err = err,
        .out_is_terminal = terminal,
        .columns = 80,
        .interrupted = &interrupted,
        .make_usb_platform = [this] { return std::make_unique<SharedPlatform>(*bus); },
        .sleeper = &bus_clock,
        .virtual_pauses_real = false,
        .virtual_chip_made = chip_made,
        .virtual_chip_done = chip_done,
        .stop_signal = nullptr,
        .out_reader_gone = {}};
    if (out_broken) out.setstate(std::ios::badbit);
    const int code = RunIspCli(static_cast<int>(argv.size()), argv.data(), env, more);
    return {code, out.str(), err.str()};
  }

  std::string Path(const std::string& name) const { return scratch.PathOf(name); }
  template <typename Content>
  std::string Write(const std::string& name, const Content& content) const {
    return scratch.Write(name, content);
  }
  static Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string ReadText(const std::string& path) {
    const Bytes bytes = Read(path);
    return std::string(bytes.begin(), bytes.end());
  }
  static nlohmann::json ReadJson(const std::string& path) {
    return nlohmann::json::parse(ReadText(path));
  }
  static std::string Sample(const std::string& name) {
    return std::string(VELMORA_SAMPLES_DIR) + "/" + name;
  }

  velmora::testing::ScratchDir scratch;
  std::atomic<bool> interrupted{false};
  bool terminal = false;
  bool out_broken = false;  // stdout refuses every write, as /dev/full does
  std::function<void(sim::VirtualChip&)> chip_made, chip_done;
  sim::VirtualClock bus_clock;
  sim::VirtualUsbPlatform empty_bus;
  UsbPlatform* bus = &empty_bus;  // the "real" bus
};

}  // namespace velmora::cli::testing
