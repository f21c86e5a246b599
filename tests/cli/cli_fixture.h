// velmora-isp run in-process: string streams for its output, a scratch folder for its files, a
// stop flag standing in for Ctrl-C, pauses on the virtual chip's clock, and hooks that reach the
// virtual chip before and after each run. Without --virtual the "USB bus" is a virtual platform
// with nothing plugged in unless a test plugs something.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
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

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

// The USB bus a test hands the program in place of the real one: a virtual platform that does
// not belong to the program, so a chip plugged into it outlives the run.
class SharedPlatform final : public ForwardingUsbPlatform {
 public:
  using ForwardingUsbPlatform::ForwardingUsbPlatform;
};

class CliTest : public ::testing::Test {
 protected:
  // Device locks in the scratch folder: tests running at once must not lock each other's
  // virtual devices, which share port paths.
  CliTest() { ::setenv("VELMORA_LOCK_DIR", scratch.PathOf("").c_str(), 1); }
  // Runs `velmora-isp args...`.
  CliRun Run(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"velmora-isp"};
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    std::ostringstream out, err;
    CliEnvironment env{
        .out = out,
        .err = err,
        .out_is_terminal = terminal,
        .columns = 80,
        .interrupted = &interrupted,
        .make_usb_platform = [this] { return std::make_unique<SharedPlatform>(*real_bus); },
        .sleeper = &bus_clock,
        .virtual_pauses_real = false,
        .virtual_chip_made = chip_made,
        .virtual_chip_done = chip_done,
        .stop_signal = nullptr,
        .out_reader_gone = {}};
    if (out_broken) out.setstate(std::ios::badbit);
    CliRun run;
    run.code = RunIspCli(static_cast<int>(argv.size()), argv.data(), env);
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  std::string Path(const std::string& name) const { return scratch.PathOf(name); }
  std::string Write(const std::string& name, const Bytes& bytes) const {
    return scratch.Write(name, bytes);
  }
  std::string Write(const std::string& name, std::string_view text) const {
    return scratch.Write(name, text);
  }
  static Bytes Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static nlohmann::json ReadJson(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in);
  }
  static std::string Sample(const std::string& name) {
    return std::string(VELMORA_SAMPLES_DIR) + "/" + name;
  }

  velmora::testing::ScratchDir scratch;
  std::atomic<bool> interrupted{false};
  bool terminal = false;
  bool out_broken = false;  // stdout refuses every write, as /dev/full does
  std::function<void(sim::VirtualChip&)> chip_made, chip_done;
  // The "real" bus: empty unless a test plugs a device into it or puts another platform here.
  sim::VirtualClock bus_clock;
  sim::VirtualUsbPlatform bus;
  UsbPlatform* real_bus = &bus;
};

}  // namespace velmora::cli::testing
