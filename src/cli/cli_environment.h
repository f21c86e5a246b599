// What velmora-isp takes from the process around it. The program wires the real streams, the
// terminal check, Ctrl-C and the USB bus; tests run the same commands in-process with string
// streams, a stop flag of their own and the virtual chip's clock.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <ostream>

#include "sleeper.h"
#include "usb_platform.h"

namespace velmora::sim {
class VirtualChip;
}

namespace velmora::cli {

struct CliEnvironment {
  std::ostream& out;  // results, progress and the verdict
  std::ostream& err;  // usage errors, failures in words and the --verbose request lines
  // A terminal gets one updating bar per step; anything else (a log file, a pipe) plain lines.
  bool out_is_terminal = false;
  // The width --help is wrapped to: the terminal's, or 80 when there is none.
  std::size_t columns = 80;
  // Raised by Ctrl-C (or SIGTERM, SIGHUP). A running job stops at its next chunk, page or poll
  // boundary.
  const std::atomic<bool>* interrupted = nullptr;
  // The USB bus of this system (libusb, or the Windows drivers); made when a command first needs
  // the device, and only without --virtual.
  std::function<std::unique_ptr<UsbPlatform>()> make_usb_platform;
  // The pauses of the tool on the real bus.
  Sleeper* sleeper = nullptr;
  // With --virtual: true makes every pause real as well, so a run takes about as long as on
  // hardware and its progress can be watched (the program); false only moves the virtual chip's
  // clock (tests).
  bool virtual_pauses_real = true;
  // Tests: called with the virtual chip right after it is made (to set registers or arm a
  // fault) and at the end of the run, before it goes (to look at what the command did to it).
  std::function<void(sim::VirtualChip&)> virtual_chip_made;
  std::function<void(sim::VirtualChip&)> virtual_chip_done;
  // The number of the signal that raised `interrupted` (0 or null: none, or not a signal), so the
  // verdict and the report can name it.
  const std::atomic<int>* stop_signal = nullptr;
  // True when stdout is a pipe whose reader has gone (null: never). What could not be printed
  // then is no failure of the run.
  std::function<bool()> out_reader_gone;
};

}  // namespace velmora::cli
