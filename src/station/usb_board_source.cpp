#include "usb_board_source.h"

#include "device_list.h"
#include "device_lock.h"
#include "velmora_usb.h"

namespace velmora::station {
namespace {

class UsbBoardConnection final : public BoardConnection {
 public:
  UsbBoardConnection(std::unique_ptr<DeviceLock> lock, std::unique_ptr<UsbPlatform> platform,
                     const ListedDevice& device, Sleeper& sleeper)
      : lock_(std::move(lock)),
        platform_(std::move(platform)),
        only_(OnlyDevice(*platform_, device.identity)),
        usb_(*only_),
        link_{usb_, sleeper} {
    usb_.SetBackend(device.backend == Backend::Property ? VelmoraUsb::kPropertyBackend
                                                        : VelmoraUsb::kGenericBackend);
    usb_.SetMatchText(device.identity.substr(device.identity.find("vid_"), 17));
    usb_.FindDevice();
  }
  ChipLink& Link() override { return link_; }
  bool Found() const { return usb_.IsFound() != 0; }

 private:
  std::unique_ptr<DeviceLock> lock_;  // released last
  std::unique_ptr<UsbPlatform> platform_;
  std::unique_ptr<UsbPlatform> only_;
  VelmoraUsb usb_;
  ChipLink link_;
};

}  // namespace

UsbBoardSource::UsbBoardSource(PlatformFactory make_platform, Sleeper& sleeper, std::uint16_t vid,
                               std::uint16_t pid)
    : make_platform_(std::move(make_platform)), sleeper_(sleeper), vid_(vid), pid_(pid) {}

std::vector<BoardSlot> UsbBoardSource::Present() {
  std::lock_guard<std::mutex> hold(listing_mutex_);
  if (!listing_) listing_ = make_platform_();
  std::vector<BoardSlot> slots;
  for (const ListedDevice& device : ListMatchingDevices(*listing_, vid_, pid_)) {
    slots.push_back({device.port_path, device.identity, 0});
  }
  return slots;
}

std::unique_ptr<BoardConnection> UsbBoardSource::Connect(const BoardSlot& slot,
                                                         std::string& error) {
  std::unique_ptr<DeviceLock> lock = DeviceLock::Acquire(slot.port_path, error);
  if (!lock) return nullptr;
  std::unique_ptr<UsbPlatform> platform = make_platform_();
  const std::vector<ListedDevice> devices = ListMatchingDevices(*platform, vid_, pid_);
  const ListedDevice* device = FindNamedDevice(devices, slot.identity);
  if (device == nullptr) {
    error = "The board at " + slot.port_path + " is gone";
    return nullptr;
  }
  auto connection =
      std::make_unique<UsbBoardConnection>(std::move(lock), std::move(platform), *device, sleeper_);
  if (!connection->Found()) {
    error = "The board at " + slot.port_path + " is gone";
    return nullptr;
  }
  return connection;
}

}  // namespace velmora::station
