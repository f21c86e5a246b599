#include "run_report.h"

#include <cstdio>
#include <cstdlib>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "exit_codes.h"
#include "flash_texts.h"
#include "velmora_version.h"

namespace velmora::cli {
namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the byte there starts none.
std::size_t Utf8SequenceAt(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

// Every string in `value` made valid UTF-8, which JSON requires: a byte that is not part of a
// well-formed sequence (an argument in another encoding, a stray byte) is written as the text
// \xNN, so the report keeps it and can be written at all.
void EscapeInvalidUtf8(nlohmann::ordered_json& value) {
  if (value.is_structured()) {
    for (auto& item : value) EscapeInvalidUtf8(item);
    return;
  }
  if (!value.is_string()) return;
  const std::string& text = value.get_ref<const std::string&>();
  std::string escaped;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, i);
    if (length == 0) {
      escaped += "\\x" + texts::Hex(static_cast<std::uint8_t>(text[i]), 2);
      ++i;
    } else {
      escaped.append(text, i, length);
      i += length;
    }
  }
  value = escaped;
}

// The report's layout; raise it when a field changes its meaning or goes away.
constexpr int kReportSchema = 1;

std::string HostName() {
#ifdef _WIN32
  const char* name = std::getenv("COMPUTERNAME");
  return name != nullptr ? name : "";
#else
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
#endif
}

}  // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const sys_days day = floor<days>(when);
  const year_month_day date{day};
  const hh_mm_ss time{floor<milliseconds>(when - day)};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int{date.year()},
                unsigned{date.month()}, unsigned{date.day()},
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  return text;
}

RunReport::RunReport(const std::vector<std::string>& arguments) {
  json_["schema"] = kReportSchema;
  json_["tool"] = "velmora-isp";
  json_["version"] = kVersion;
  json_["host"] = HostName();
  json_["started"] = UtcTimestamp(std::chrono::system_clock::now());
  json_["arguments"] = arguments;
}

void RunReport::Finish(int exit_code, const std::string& message) {
  if (!json_.contains("verdict")) {
    switch (exit_code) {
      case kExitSuccess:
        json_["verdict"] = "success";
        break;
      case kExitStepFailed:
        json_["verdict"] = "failed";
        break;
      case kExitUsage:
        json_["verdict"] = "refused";
        break;
      default:
        json_["verdict"] = "no device";
        break;
    }
  }
  json_["message"] = message;
  json_["exit_code"] = exit_code;
  json_["finished"] = UtcTimestamp(std::chrono::system_clock::now());
}

FileWriteResult RunReport::WriteTo(const std::string& path) const {
  nlohmann::ordered_json safe = json_;
  EscapeInvalidUtf8(safe);
  const std::string text = safe.dump(2) + "\n";
  return WriteFileAtomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string HexText(std::uint32_t value, int digits) {
  return "0x" + texts::Hex(value, digits);
}

}  // namespace velmora::cli
