#include "station_engine.h"

#include <algorithm>
#include <chrono>

#include "flash_texts.h"
#include "parameter_block.h"
#include "parameter_commands.h"
#include "preflight.h"
#include "user_table.h"

namespace velmora::station {
namespace {

const char* StepName(AutoStep step) {
  static constexpr const char* kNames[] = {"enter_isp", "read_id",     "clear_status",
                                           "erase",     "blank_check", "program",
                                           "verify",    "protect",     "exit_isp"};
  return kNames[static_cast<std::size_t>(step)];
}

// Keeps the first failure text and the flash engine's stop check; shows nothing.
class QuietProgress final : public FlashProgress {
 public:
  explicit QuietProgress(const std::atomic<bool>* stop) : stop_(stop) {}
  void ProcessText(const std::string& text) override {
    last_ = text;
    const bool failure = text.find("Fail") != std::string::npos || text == texts::kStopped;
    if (failure && first_failure_.empty()) first_failure_ = text;
  }
  void AddressText(const std::string&) override {}
  void StatusText(const std::string&) override {}
  void Pump() override {}
  bool StopRequested() const override { return stop_ != nullptr && stop_->load(); }
  const std::string& FirstFailure() const { return first_failure_; }
  const std::string& Last() const { return last_; }

 private:
  const std::atomic<bool>* stop_;
  std::string last_, first_failure_;
};

class StepTimer final : public AutoStepObserver {
 public:
  explicit StepTimer(std::vector<StepResult>& steps, const QuietProgress& progress)
      : steps_(steps), progress_(progress) {}
  void StepStarted(AutoStep) override { began_ = std::chrono::steady_clock::now(); }
  void StepEnded(AutoStep step, bool ok) override {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    const bool stopped = !ok && progress_.Last() == texts::kStopped;
    steps_.push_back({StepName(step), ok ? "ok" : stopped ? "stopped" : "failed", seconds});
  }

 private:
  std::vector<StepResult>& steps_;
  const QuietProgress& progress_;
  std::chrono::steady_clock::time_point began_{};
};

// String 3 through the mailbox, timed as a step of its own.
bool WriteSerialParam(ChipLink& link, const std::string& serial, std::vector<StepResult>& steps) {
  const auto began = std::chrono::steady_clock::now();
  const auto chunks = StringFieldChunks(serial);
  const bool ok = chunks && WriteStringChunks(link, parameter_item::kString3, *chunks);
  steps.push_back(
      {"serial_param", ok ? "ok" : "failed",
       std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count()});
  return ok;
}

}  // namespace

std::optional<std::string> JobRefusal(const StationJob& job) {
  if (job.serial_via != SerialVia::UserTable) return std::nullopt;
  const UserTableSearch table = FindUserTable(std::span(job.image.bytes.data(), job.image.length));
  if (table.outcome == UserTableSearch::Outcome::kNoMarker) {
    return "The image has no user table (VLUSB_Table01): its serial field cannot be written; use "
           "an image with a table or --serial-via params";
  }
  if (!table.Found()) return "The image's user table is cut short by the end of the image";
  return std::nullopt;
}

ProgramImage ImageWithSerial(const StationJob& job, const std::string& serial) {
  ProgramImage image = job.image;
  const std::size_t field =
      job.table_offset + kUserTableStringsOffset + 2 * kUserStringSize;  // the serial number
  for (std::size_t i = 0; i < kUserStringSize; ++i) {
    image.bytes[field + i] = i < serial.size() ? static_cast<std::uint8_t>(serial[i]) : 0x20;
  }
  return image;
}

BoardResult ProgramBoard(ChipLink& link, const StationJob& job, const std::string& serial,
                         const std::atomic<bool>* stop) {
  BoardResult result;
  const ProgramImage image =
      job.serial_via == SerialVia::UserTable ? ImageWithSerial(job, serial) : job.image;
  result.image_checksum = image.Checksum();

  const PartState before = ReadPartState(link, job.steps.isp_mode);
  result.jedec_id = ChipIdText(before.id);
  if (const auto refusal = PreflightRefusal(before.id, job.steps, job.range, image)) {
    result.failure = *refusal;
    return result;
  }
  QuietProgress progress(stop);
  StepTimer timer(result.steps, progress);
  FlashContext flash{link, progress};
  ChipIdBytes chip_id{};
  const AutoOutcome outcome =
      RunAutoSequence(flash, job.steps, job.range, image, chip_id, &timer, job.profile);
  if (outcome.step_failed) {
    result.failure = progress.FirstFailure().empty() ? progress.Last() : progress.FirstFailure();
    if (result.failure.empty()) result.failure = "A step failed";
    return result;
  }
  if (job.serial_via == SerialVia::Params && !WriteSerialParam(link, serial, result.steps)) {
    result.failure = "The serial could not be written into string 3";
    return result;
  }
  result.passed = true;
  return result;
}

}  // namespace velmora::station
