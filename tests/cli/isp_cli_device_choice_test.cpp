// Which device a command works on when several are plugged in, and the lock that keeps a second
// program off a device in use.
#include "cli_fixture.h"
#include "device_lock.h"

namespace velmora::cli::testing {
namespace {

constexpr const char* kBoard = "usb:vid_6ccf&pid_6012:bus1-port4.2";
constexpr const char* kLoader = "usb:vid_1d7a&pid_6000:bus1-port3";

TEST_F(CliTest, SeveralDevicesAreNamedByPortPathAndLocked) {
  sim::VirtualChip board(bus_clock), loader(bus_clock);
  board.PlugInto(bus, kBoard);
  loader.PlugInto(bus, kLoader, sim::Visibility::GenericOnly);
  bus.SetSerialNumber(kBoard, "VL000001");

  const struct {
    std::vector<std::string> args;
    int code;
    std::string out, err;
  } cases[] = {
      {{"detect", "--list"},
       0,
       "1-4.2  6ccf:6012  audio device  serial VL000001\n"
       "1-3  1d7a:6000  firmware-update loader  serial (none)\n",
       ""},
      {{"detect"}, 2, "", "name one with --device PATH:\n1-4.2  6ccf:6012"},
      {{"--device", "1-3", "detect"}, 0, "Firmware update device 1D7A is exist\n", ""},
      {{"detect", "--device", kBoard}, 0, "Device 6012 is exist\n", ""},
      {{"--device", "1-4", "detect"}, 3, "", "No device at 1-4. Devices present:\n1-4.2"},
  };
  for (const auto& c : cases) {
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.code, c.code) << c.args.back();
    EXPECT_EQ(run.out, c.out) << c.args.back();
    EXPECT_NE(run.err.find(c.err), std::string::npos) << run.err;
  }

  std::string error;
  {
    const auto held = DeviceLock::Acquire("1-4.2", error);
    ASSERT_NE(held, nullptr) << error;
    const CliRun refused = Run({"--device", "1-4.2", "detect"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "The device 1-4.2 is in use by another program\n");
    EXPECT_EQ(Run({"--device", "1-3", "detect"}).code, 0);  // another device: its own lock
  }
  EXPECT_EQ(Run({"--device", "1-4.2", "detect"}).code, 0);
}

}  // namespace
}  // namespace velmora::cli::testing
