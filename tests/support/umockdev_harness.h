// Fake USB devices for tests of the real libusb back-end: a umockdev testbed lists them in a
// private /sys and /dev, and their control transfers (usbfs SUBMITURB/REAPURB) are answered by a
// virtual device. No root, no udevd and no real USB are needed, but the process must run with
// umockdev's preload library (link velmora_umockdev_main, which arranges that).
//
// glib and umockdev stay inside the .cpp so Qt translation units can include this header.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "virtual_usb_platform.h"

namespace velmora::fake {

struct FakeUsbDevice {
  std::uint16_t vendor_id = 0;
  std::uint16_t product_id = 0;
  unsigned bus = 1;         // 1..255
  std::string ports = "1";  // port path from the root hub, e.g. "2" or "2.3"; hubs are added
  sim::VirtualDevice* answers = nullptr;  // vendor/class requests and the probe; not owned
  // libusb puts no driver choice on the wire: the virtual device sees this selector.
  Backend backend = Backend::Generic;
};

class UmockdevHarness {
 public:
  // Creates the testbed. Construct it before any libusb context, which reads the fake /sys once
  // at start. Ok() tells whether the preload library is active and the testbed works.
  UmockdevHarness();
  ~UmockdevHarness();
  UmockdevHarness(const UmockdevHarness&) = delete;
  UmockdevHarness& operator=(const UmockdevHarness&) = delete;

  bool Ok() const;
  const std::string& Error() const;

  // Plugs a fake device in; returns its id, or -1 (see Error()). Standard GET_DESCRIPTOR of the
  // device descriptor is answered from the device's descriptor when `answers->HandleProbe`
  // agrees, and stalls otherwise; every other request goes to `answers->HandleControl`, whose
  // false is a stall (EPIPE). The answering runs on umockdev's worker thread while the test's
  // transfer waits, so the virtual device is never touched by two threads at once.
  int Plug(const FakeUsbDevice& device);

  // The device takes transfers but never completes them: libusb gives up at its timeout.
  void SetSilent(int id, bool silent);

  // Pulls the device out: it leaves the fake /sys, and every request on a handle still open
  // fails with ENODEV.
  void Unplug(int id);

  // Opening the device node fails with EACCES, as without the udev rule. The harness drops the
  // calling thread's file-permission override (root has it), so call this from the thread that
  // opens the device; AllowAccess or the destructor gives it back.
  bool DenyAccess(int id);
  void AllowAccess(int id);

  // IN data stages of vendor and class requests end after at most `bytes` bytes (a short
  // answer, as from a device with less to say); SIZE_MAX restores full answers.
  void SetShortAnswers(int id, std::size_t bytes);

  // Control transfers that reached the device (setup packets seen), the probe included.
  std::size_t TransferCount(int id) const;

  // The setup packets that reached the device, in order, with their wLength.
  struct SetupPacket {
    ControlSetup setup;
    std::uint16_t length = 0;
  };
  std::vector<SetupPacket> Setups(int id) const;

  // Sets LD_PRELOAD (and ASAN_OPTIONS=verify_asan_link_order=0) and re-executes the program when
  // umockdev's preload library is not loaded yet. Returns only when it is (or exec failed).
  static void EnsurePreload(char** argv);
  static bool PreloadActive();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmora::fake
