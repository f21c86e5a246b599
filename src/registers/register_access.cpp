#include "register_access.h"

namespace velmora {

std::optional<std::uint8_t> RegisterAccess::ReadIntoImage(std::uint8_t index) {
  std::uint8_t value = image_[index];
  if (!port_.Read(index, value)) return std::nullopt;
  image_[index] = value;
  return value;
}

std::optional<std::uint8_t> RegisterAccess::ReadOne(std::uint8_t index) {
  usb_.Open();
  port_.Prepare();
  const std::optional<std::uint8_t> read = ReadIntoImage(index);
  usb_.Close();
  return read;
}

std::optional<std::uint8_t> RegisterAccess::WriteAndReadBack(std::uint8_t index, std::uint8_t value,
                                                             unsigned pause_ms) {
  image_[index] = value;
  usb_.Open();
  port_.Prepare();
  port_.Write(index, value);
  sleeper_.SleepMs(pause_ms);
  const std::optional<std::uint8_t> read = ReadIntoImage(index);
  usb_.Close();
  return read;
}

FullReadEnd RegisterAccess::ReadAll(FullReadFront& front) {
  usb_.Open();
  port_.Prepare();
  // A failed open leaves the invalid marker, which is still this read's own: its requests fail
  // like those of a device gone missing, and the read runs on so that a stop is seen as usual.
  const UsbHandle own = usb_.Handle();
  FullReadEnd end = FullReadEnd::Completed;
  for (int index = 0; index < kRegistersPerTable; ++index) {
    if (front.StopRequested()) {
      end = FullReadEnd::Stopped;
      break;
    }
    if (usb_.Handle() != own) {
      end = FullReadEnd::LinkLost;
      break;
    }
    const auto reg = static_cast<std::uint8_t>(index);
    front.Show(reg, ReadIntoImage(reg));
    front.Pump();
  }
  usb_.Close();
  return end;
}

}  // namespace velmora
