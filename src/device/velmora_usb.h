// The device link: finds the device by a match text in interface paths, keeps the path, opens and
// closes one handle and carries control transfers through the selected back-end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "usb_platform.h"

namespace velmora {

class VelmoraUsb {
 public:
  static constexpr std::uint8_t kGenericBackend = 0;
  static constexpr std::uint8_t kPropertyBackend = 1;
  static constexpr std::size_t kMaxMatchText = 49;  // the match text field holds 50 chars with NUL
  static constexpr std::size_t kMaxDevicePath = 511;  // the path field holds 512 chars with NUL

  explicit VelmoraUsb(UsbPlatform& platform);
  ~VelmoraUsb();  // closes any handle still held
  VelmoraUsb(const VelmoraUsb&) = delete;
  VelmoraUsb& operator=(const VelmoraUsb&) = delete;

  // Stores the back-end selector (0 generic, 1 property); used by the next search and transfer.
  void SetBackend(std::uint8_t selector) { backend_ = selector; }
  std::uint8_t GetBackend() const { return backend_; }

  // Copies at most the first 49 characters of `text` into the match text.
  void SetMatchText(std::string_view text);
  const std::string& MatchText() const { return match_text_; }

  std::uint8_t IsFound() const { return found_; }
  void ClearFound() { found_ = 0; }

  // Searches the interfaces of the active back-end. For every path containing the match text:
  // records the path, sets found and probes the device on a handle of its own. Returns the
  // outcome of the last probe (false when nothing matched). Never clears found.
  bool FindDevice();

  // Searches without recording or probing; sets found to whether anything matched.
  bool CheckPresence();

  // Closes a held handle, then opens the recorded path. The invalid marker is kept on failure.
  bool Open();

  // Closes the held handle, if any, and forgets it.
  void Close();

  // One control transfer through the active back-end. Returns false without a platform call when
  // no handle is held; a failed Open's invalid marker does reach the platform (and fails there).
  bool ControlTransfer(std::uint8_t request_type, std::uint8_t request, std::uint16_t value,
                       std::uint16_t index, std::uint8_t* data, std::uint32_t length);

  const std::string& DevicePath() const { return device_path_; }
  UsbHandle Handle() const { return handle_; }
  UsbPlatform& Platform() { return platform_; }

 private:
  Backend ActiveBackend() const {
    return backend_ == kPropertyBackend ? Backend::Property : Backend::Generic;
  }
  // Visits every interface of the active back-end; calls on_match for each matching path.
  template <typename OnMatch>
  bool Search(OnMatch on_match);

  UsbPlatform& platform_;
  std::uint8_t found_ = 0;
  std::uint8_t backend_ = kGenericBackend;
  std::string device_path_;
  std::string match_text_ = "vid_1d7a&pid_6000";
  UsbHandle handle_ = kNoHandle;
};

}  // namespace velmora
