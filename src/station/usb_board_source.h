// The station's boards on this system's USB bus: every device that matches the audio device's
// ids or either loader. Each board gets a USB platform of its own and is locked for the program
// while its connection lives.
#pragma once

#include <functional>
#include <mutex>

#include "board_source.h"
#include "sleeper.h"
#include "usb_platform.h"

namespace velmora::station {

class UsbBoardSource final : public BoardSource {
 public:
  using PlatformFactory = std::function<std::unique_ptr<UsbPlatform>()>;
  // `make_platform` is called once for the listing and once per connection; `sleeper` must be
  // safe to call from several threads at once (a real one is).
  UsbBoardSource(PlatformFactory make_platform, Sleeper& sleeper, std::uint16_t vid,
                 std::uint16_t pid);
  std::vector<BoardSlot> Present() override;
  std::unique_ptr<BoardConnection> Connect(const BoardSlot& slot, std::string& error) override;

 private:
  PlatformFactory make_platform_;
  Sleeper& sleeper_;
  std::uint16_t vid_, pid_;
  std::mutex listing_mutex_;
  std::unique_ptr<UsbPlatform> listing_;
};

}  // namespace velmora::station
