#include "presence_monitor.h"

namespace velmora {

void PresenceMonitor::SwitchOn(const std::string& vid_text, const std::string& pid_text) {
  on_ = true;
  SetIds(vid_text, pid_text);
  BuildUserMatchText(true);
}

void PresenceMonitor::SwitchOff() {
  on_ = false;
  usb_.ClearFound();
}

void PresenceMonitor::TakeVid(const std::string& vid_text) {
  vid_text_ = vid_text;
  BuildUserMatchText(false);
}

void PresenceMonitor::TakePid(const std::string& pid_text) {
  pid_text_ = pid_text;
  BuildUserMatchText(false);
}

void PresenceMonitor::SetIds(const std::string& vid_text, const std::string& pid_text) {
  vid_text_ = vid_text;
  pid_text_ = pid_text;
}

void PresenceMonitor::BuildUserMatchText(bool lower) {
  user_match_text_ = "vid_" + vid_text_ + "&pid_" + pid_text_;
  if (user_match_text_.size() > kMaxUserMatchText) user_match_text_.resize(kMaxUserMatchText);
  if (!lower) return;
  for (char& c : user_match_text_) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');  // ASCII letters only
  }
}

TickOutcome PresenceMonitor::Tick(bool auto_busy) {
  TickOutcome outcome;
  if (!on_) {
    if (usb_.IsFound()) usb_.Close();
    return outcome;
  }
  if (auto_busy) return outcome;  // the automatic sequence owns the link meanwhile

  if (usb_.IsFound()) {
    outcome.interval_ms = kPresentIntervalMs;
    usb_.CheckPresence();
  } else {
    if (usb_.GetBackend() == VelmoraUsb::kPropertyBackend) {
      outcome.interval_ms = kSearchIntervalMs;
      usb_.SetBackend(VelmoraUsb::kGenericBackend);
      usb_.SetMatchText(firmware_update_toggle_ ? kLoader1d7a : kLoader6ccf);
      firmware_update_toggle_ = !firmware_update_toggle_;
    } else {
      usb_.SetBackend(VelmoraUsb::kPropertyBackend);
      usb_.SetMatchText(user_match_text_);
    }
    usb_.FindDevice();  // the found flag is what counts, not the probe's answer
  }
  outcome.display = Display();
  return outcome;
}

PresenceDisplay PresenceMonitor::LookOnce() {
  usb_.ClearFound();
  usb_.SetBackend(VelmoraUsb::kPropertyBackend);
  usb_.SetMatchText(user_match_text_);
  usb_.FindDevice();
  // Each loader search leaves the toggle as a tick leaves it after that search, so Display
  // names the loader that was found: true after the 6CCF search, false after the 1D7A one.
  struct LoaderSearch {
    const char* match_text;
    bool toggle_after;
  };
  for (const LoaderSearch& loader : {LoaderSearch{kLoader6ccf, true}, {kLoader1d7a, false}}) {
    if (usb_.IsFound()) break;
    usb_.SetBackend(VelmoraUsb::kGenericBackend);
    usb_.SetMatchText(loader.match_text);
    firmware_update_toggle_ = loader.toggle_after;
    usb_.FindDevice();
  }
  return Display();
}

PresenceDisplay PresenceMonitor::Display() const {
  if (!usb_.IsFound()) return {IndicatorColour::ButtonFace, "No device is available"};
  if (usb_.GetBackend() == VelmoraUsb::kPropertyBackend) {
    return {IndicatorColour::Lime, "Device " + pid_text_ + " is exist"};
  }
  // The toggle was inverted after the search: true means the 6CCF loader was looked for.
  return {IndicatorColour::Lime, firmware_update_toggle_ ? "Firmware update device 6CCF is exist"
                                                         : "Firmware update device 1D7A is exist"};
}

}  // namespace velmora
