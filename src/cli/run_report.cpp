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
  const std::string text = json_.dump(2) + "\n";
  return WriteFileAtomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string HexText(std::uint32_t value, int digits) {
  return "0x" + texts::Hex(value, digits);
}

}  // namespace velmora::cli
