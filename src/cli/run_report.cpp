#include "run_report.h"

#include "exit_codes.h"
#include "flash_texts.h"
#include "velmora_version.h"

namespace velmora::cli {

RunReport::RunReport(const std::vector<std::string>& arguments) {
  json_["tool"] = "velmora-isp";
  json_["version"] = kVersion;
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
