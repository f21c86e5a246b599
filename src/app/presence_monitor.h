// Device detection without the window: the detection switch, the ids to look for, and one step
// of the periodic search that alternates between the user's device (property back-end) and the
// two firmware-update loaders (generic back-end). The window shows what a step returns.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "velmora_usb.h"

namespace velmora {

// Colour of the presence indicator: grey while detection is off, lime while a device is
// present, the button-face colour while searching.
enum class IndicatorColour { Grey, Lime, ButtonFace };

struct PresenceDisplay {
  IndicatorColour colour = IndicatorColour::ButtonFace;
  std::string label;
};

struct TickOutcome {
  std::optional<unsigned> interval_ms;     // set when the tick changes the timer interval
  std::optional<PresenceDisplay> display;  // set when the tick changes the display
};

class PresenceMonitor {
 public:
  // The lower-casing works in a 32-byte area: longer user match texts are cut to 31 characters.
  static constexpr std::size_t kMaxUserMatchText = 31;
  static constexpr unsigned kPresentIntervalMs = 1000;
  static constexpr unsigned kSearchIntervalMs = 300;
  static constexpr const char* kLoader6ccf = "vid_6ccf&pid_6000";
  static constexpr const char* kLoader1d7a = "vid_1d7a&pid_6000";

  explicit PresenceMonitor(VelmoraUsb& usb) : usb_(usb) {}

  // Detection on: takes both ids as typed and builds the match text in lower case.
  void SwitchOn(const std::string& vid_text, const std::string& pid_text);
  // Detection off: forgets the found device (the display keeps its last label).
  void SwitchOff();
  // Enter in an id box: takes that id as typed and rebuilds the match text without lowering it.
  void TakeVid(const std::string& vid_text);
  void TakePid(const std::string& pid_text);
  // Sets the ids without touching the match text (settings load).
  void SetIds(const std::string& vid_text, const std::string& pid_text);
  // Builds the match text from the ids as they stand, without lowering it (start-up).
  void RebuildUserMatchText() { BuildUserMatchText(false); }

  // One timer tick. While `auto_busy` the tick does nothing at all.
  TickOutcome Tick(bool auto_busy);

  // One look for every identity, in the order the ticks take them from the start: the user's
  // device (property back-end), then the 6CCF loader and the 1D7A loader (generic back-end).
  // Forgets a device found before, stops at the first identity found and leaves the link with
  // that search's back-end, match text and path. Returns what a tick would then show. The
  // detection switch is not consulted: the ids are those last taken.
  PresenceDisplay LookOnce();

  bool IsOn() const { return on_; }
  const std::string& VidText() const { return vid_text_; }
  const std::string& PidText() const { return pid_text_; }
  const std::string& UserMatchText() const { return user_match_text_; }
  bool FirmwareUpdateToggle() const { return firmware_update_toggle_; }

 private:
  void BuildUserMatchText(bool lower);
  PresenceDisplay Display() const;

  VelmoraUsb& usb_;
  bool on_ = false;
  std::string vid_text_;
  std::string pid_text_;
  std::string user_match_text_;
  bool firmware_update_toggle_ = false;
};

}  // namespace velmora
