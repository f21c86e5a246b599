// velmora-usbprobe: a console check of the Windows device link. Lists the present interfaces of
// both drivers' interface classes, then searches each the way device detection does and reports
// what the link found and whether the driver answered its probe.
//
//   velmora-usbprobe [VID PID]    ids of the audio device in hex (default 6ccf 6012)
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "velmora_usb.h"
#include "win32_usb_platform.h"

namespace {

using velmora::Backend;
using velmora::VelmoraUsb;
using velmora::Win32UsbPlatform;

struct Search {
  Backend backend;
  std::string match_text;
};

const char* BackendName(Backend backend) {
  return backend == Backend::Property ? "audio driver (property)" : "generic driver";
}

// Value of 1 to 4 hex digits, or -1 for anything else.
long HexId(const std::string& text) {
  if (text.empty() || text.size() > 4) return -1;
  long value = 0;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (std::isxdigit(u) == 0) return -1;
    value = value * 16 + (std::isdigit(u) != 0 ? u - '0' : std::tolower(u) - 'a' + 10);
  }
  return value;
}

// "vid_xxxx&pid_xxxx" from two hex ids, or "" when either is not 1 to 4 hex digits.
std::string MatchText(const std::string& vid, const std::string& pid) {
  const long v = HexId(vid), p = HexId(pid);
  if (v < 0 || p < 0) return "";
  char text[32];
  std::snprintf(text, sizeof(text), "vid_%04lx&pid_%04lx", v, p);
  return text;
}

void ListInterfaces(Win32UsbPlatform& platform, Backend backend) {
  std::vector<std::string> paths;
  if (!platform.EnumerateInterfaces(backend, paths)) {
    std::printf("%s: no interface list (%s)\n", BackendName(backend), platform.LastError().c_str());
    return;
  }
  std::printf("%s: %zu interface(s)\n", BackendName(backend), paths.size());
  for (const std::string& path : paths) std::printf("  %s\n", path.c_str());
}

// Runs CheckPresence and FindDevice for one selection; true when the device is present.
bool RunSearch(VelmoraUsb& link, Win32UsbPlatform& platform, const Search& search) {
  link.SetBackend(search.backend == Backend::Property ? VelmoraUsb::kPropertyBackend
                                                      : VelmoraUsb::kGenericBackend);
  link.SetMatchText(search.match_text);
  link.ClearFound();
  const bool present = link.CheckPresence();
  std::printf("%s, %s: %s\n", BackendName(search.backend), search.match_text.c_str(),
              present ? "present" : "not present");
  if (!present) return false;
  const bool answered = link.FindDevice();
  const std::string probe = answered ? "answered" : "failed: " + platform.LastError();
  std::printf("  path  %s\n  probe %s\n", link.DevicePath().c_str(), probe.c_str());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string audio_match = "vid_6ccf&pid_6012";
  if (argc == 3) {
    audio_match = MatchText(argv[1], argv[2]);
  } else if (argc != 1) {
    audio_match.clear();
  }
  if (audio_match.empty()) {
    std::fprintf(stderr, "usage: velmora-usbprobe [VID PID]   (hexadecimal, e.g. 6ccf 6012)\n");
    return 2;
  }

  Win32UsbPlatform platform;
  VelmoraUsb link(platform);
  ListInterfaces(platform, Backend::Generic);
  ListInterfaces(platform, Backend::Property);

  const Search searches[] = {
      {Backend::Generic, "vid_6ccf&pid_6000"},
      {Backend::Generic, "vid_1d7a&pid_6000"},
      {Backend::Property, audio_match},
  };
  bool any = false;
  for (const Search& search : searches) any = RunSearch(link, platform, search) || any;
  return any ? 0 : 1;
}
