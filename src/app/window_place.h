// Where the window opens: the design's place when it fits on the screen, else on the screen.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>

namespace velmora {

// The title bar and borders a window manager adds around the window's own area, as on common
// desktops; the frame is not known before the window is first shown.
inline constexpr QMargins kTypicalFrame{8, 31, 8, 8};

// The top-left corner for a window whose own area is `designed`: unchanged when the window with
// its `frame` lies inside `available` (the screen less its panels); otherwise moved the least
// way that brings it inside, and, when it is larger than the area, with its top-left corner on it.
QPoint PlaceOnScreen(const QRect& designed, const QMargins& frame, const QRect& available);

}  // namespace velmora
