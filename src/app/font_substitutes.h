// The designed fonts are Windows fonts; where they are missing, the nearest free font stands in.
#pragma once

namespace velmora {

// Registers the stand-ins with Qt once; later calls do nothing.
void InstallFontSubstitutes();

}  // namespace velmora
