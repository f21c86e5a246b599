// Start-up for test windows: every page shown (so a test can select any page), a 96 dpi screen,
// and no settings unless a test hands in a store of its own in a scratch folder, so no test ever
// reads or writes the user's.
#pragma once

#include "form_startup.h"

namespace velmora::test {

inline FormStartup AllPagesStartup(SettingsStore* settings = nullptr) {
  FormStartup startup;
  startup.settings = settings;
  startup.all_pages = true;
  startup.screen_dpi = 96;
  return startup;
}

}  // namespace velmora::test
