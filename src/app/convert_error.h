// The conversion error raised by window handlers when an edit's text is no integer. The window's
// guard catches it, shows its message and ends the handler.
#pragma once

#include <QString>
#include <stdexcept>

namespace velmora {

class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const QString& message)
      : std::runtime_error(message.toStdString()), message_(message) {}
  const QString& Message() const { return message_; }

 private:
  QString message_;
};

// The conversion of StrToInt for handlers: the value, or EConvertError with the message
// "'<text>' is not a valid integer value".
int StrToIntOrRaise(const QString& text);

}  // namespace velmora
