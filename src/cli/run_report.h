// --log FILE: a JSON report of the run for production records. It starts with its schema
// number, the tool and its version, the host name, the start time and the arguments; the
// commands fill in what they learn (device identity and path, JEDEC id, range, status register
// before and after, the file's length and checksum, each step's outcome and duration); the end
// of the run adds the verdict, the last message, the exit code and the end time. Every field is
// described in velmora-isp(1). The file is written in one step: it holds the whole report or, when
// writing fails, stays as it was.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "atomic_file.h"

namespace velmora::cli {

class RunReport {
 public:
  explicit RunReport(const std::vector<std::string>& arguments);

  // The report's top-level entry `key`, created empty when new.
  nlohmann::ordered_json& operator[](const char* key) { return json_[key]; }
  const nlohmann::ordered_json& Json() const { return json_; }

  // The outcome: "verdict" from the exit code ("success", "failed", "refused", "no device") unless
  // a command set one already (an Auto run stopped by Ctrl-C says "stopped"), `message` (the last
  // words the run showed) and the exit code.
  void Finish(int exit_code, const std::string& message);

  FileWriteResult WriteTo(const std::string& path) const;

 private:
  nlohmann::ordered_json json_;
};

// `when` in UTC as ISO 8601 to the millisecond: "2026-12-08T11:16:09.123Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point when);

// "0x" and `digits` upper-case hexadecimal digits, as the report writes bytes and addresses.
std::string HexText(std::uint32_t value, int digits);

}  // namespace velmora::cli
