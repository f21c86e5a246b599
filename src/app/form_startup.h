// What start-up takes from outside the window: where the settings live, how dense the screen is,
// and whether the engineer's pages show.
#pragma once

#include "settings_store.h"

namespace velmora {

struct FormStartup {
  // Where LoadSettings reads and SaveSettings writes; nullptr: no settings at all (loading finds
  // none, closing saves nothing). Not owned.
  SettingsStore* settings = nullptr;
  // Keeps every tab, the "Function Test" panel, the range group and the ISP step boxes shown,
  // and sizes the window for them. As shipped (false) only the ISP page's file, "Auto" and
  // progress show.
  bool all_pages = false;
  // Logical dots per inch that the window sizes itself by; 0 asks the screen.
  int screen_dpi = 0;
};

}  // namespace velmora
