// Where the two programs keep their settings.
#pragma once

#include <memory>

#include "settings_store.h"

namespace velmora {

// The tool's: on Windows the registry key of its installations; elsewhere the user's
// Velmora/USBTool.ini in the config folder.
std::unique_ptr<SettingsStore> MakeToolSettingsStore();

// The demo's own Velmora/USBTool-demo.ini, so trying the demo never changes the tool's settings.
std::unique_ptr<SettingsStore> MakeDemoSettingsStore();

}  // namespace velmora
