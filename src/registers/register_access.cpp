#include "register_access.h"

namespace velmora {

void RegisterAccess::ReadIntoImage(std::uint8_t index) {
  std::uint8_t value = image_[index];
  if (port_.Read(index, value)) image_[index] = value;
}

std::uint8_t RegisterAccess::ReadOne(std::uint8_t index) {
  usb_.Open();
  ReadIntoImage(index);
  usb_.Close();
  return image_[index];
}

std::uint8_t RegisterAccess::WriteAndReadBack(std::uint8_t index, std::uint8_t value,
                                              unsigned pause_ms) {
  image_[index] = value;
  usb_.Open();
  port_.Write(index, value);
  sleeper_.SleepMs(pause_ms);
  ReadIntoImage(index);
  usb_.Close();
  return image_[index];
}

FullReadEnd RegisterAccess::ReadAll(FullReadFront& front) {
  usb_.Open();
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
    ReadIntoImage(reg);
    front.Show(reg, image_[reg]);
    front.Pump();
  }
  usb_.Close();
  return end;
}

}  // namespace velmora
