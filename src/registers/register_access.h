// The device traffic of a register grid page, one operation per user action: each opens the
// device link, talks through the page's register port, keeps the page's image and closes the
// link again, so no handle stays open between events. Results of the requests are not reported:
// a read that fails keeps the image entry as it was (nothing is invented), and the caller shows
// the entry.
#pragma once

#include <cstdint>
#include <optional>

#include "register_images.h"
#include "register_port.h"
#include "sleeper.h"
#include "velmora_usb.h"

namespace velmora {

// The page side of a full read: where each value goes, the event pump, and the stop request.
class FullReadFront {
 public:
  virtual ~FullReadFront() = default;
  // Register `index` was read as `value`; nothing when the read failed (the image keeps its entry).
  virtual void Show(std::uint8_t index, std::optional<std::uint8_t> value) = 0;
  // Lets the window handle pending events; a click on the button may ask for a stop meanwhile.
  virtual void Pump() = 0;
  virtual bool StopRequested() const = 0;
};

enum class FullReadEnd {
  Completed,  // all 256 registers were read
  Stopped,    // the front asked for a stop before the next register
  LinkLost,   // a handler run during a pump closed or replaced the link's handle
};

class RegisterAccess {
 public:
  RegisterAccess(VelmoraUsb& usb, Sleeper& sleeper, RegisterPort& port, RegisterTable& image)
      : usb_(usb), sleeper_(sleeper), port_(port), image_(image) {}

  // Open, prepare the port, read register `index` into the image, close; no pause. Returns the
  // value read, or nothing when the read failed.
  std::optional<std::uint8_t> ReadOne(std::uint8_t index);

  // Stores `value` in the image, then open, prepare the port, write it, pause `pause_ms`, read
  // the register back into the image, close. Returns the value read back, or nothing when the
  // read-back failed (the image then holds `value`).
  std::optional<std::uint8_t> WriteAndReadBack(std::uint8_t index, std::uint8_t value,
                                               unsigned pause_ms);

  // Reads registers 0x00 to 0xFF in row order into the image on one opened and prepared link:
  // before each
  // register it checks for a stop request and for the link's handle still being its own, after
  // each it shows the entry and pumps. The link is closed at the end whichever way it ended.
  // A handler run during a pump that opens or closes the link ends the read (LinkLost) rather
  // than letting it go on failing on a closed link.
  FullReadEnd ReadAll(FullReadFront& front);

 private:
  std::optional<std::uint8_t> ReadIntoImage(std::uint8_t index);

  VelmoraUsb& usb_;
  Sleeper& sleeper_;
  RegisterPort& port_;
  RegisterTable& image_;
};

}  // namespace velmora
