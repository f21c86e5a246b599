#include "convert_error.h"

#include "str_to_int.h"

namespace velmora {

int StrToIntOrRaise(const QString& text) {
  const std::optional<std::int32_t> value = StrToInt(text.toStdString());
  if (!value) throw EConvertError(QString("'%1' is not a valid integer value").arg(text));
  return *value;
}

}  // namespace velmora
