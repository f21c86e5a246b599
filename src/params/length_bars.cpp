#include "length_bars.h"

namespace velmora {

LengthBarView ViewOfLengthBar(int position) {
  LengthBarView view;
  view.caption = std::to_string(position);
  for (int field = 0; field < kLengthBarFields; ++field) {
    view.enabled[static_cast<std::size_t>(field)] = FieldTakesPart(field, position);
  }
  return view;
}

}  // namespace velmora
