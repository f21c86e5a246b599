#include "window_place.h"

#include <algorithm>

namespace velmora {

QPoint PlaceOnScreen(const QRect& designed, const QMargins& frame, const QRect& available) {
  const QRect outer = designed.marginsAdded(frame);
  const int x =
      std::max(std::min(outer.left(), available.right() + 1 - outer.width()), available.left());
  const int y =
      std::max(std::min(outer.top(), available.bottom() + 1 - outer.height()), available.top());
  return {x + frame.left(), y + frame.top()};
}

}  // namespace velmora
