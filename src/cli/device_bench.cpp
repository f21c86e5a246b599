#include "device_bench.h"

#include <filesystem>
#include <fstream>
#include <iterator>

#include "arguments.h"
#include "demo_sleeper.h"
#include "device_list.h"
#include "flash_parts.h"
#include "preflight.h"

namespace velmora::cli {
namespace {

namespace fs = std::filesystem;

// Reads the whole of `path` into `bytes`; false with words when it cannot.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::error_code code;
  if (!fs::is_regular_file(path, code)) {
    error = "Cannot read the virtual flash " + path + ": not a regular file";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad() || !in.is_open()) {
    error = "Cannot read the virtual flash " + path;
    return false;
  }
  return true;
}

// The identifiers of the virtual chip's part table, as --virtual-id takes them.
std::string KnownParts() {
  std::string known;
  for (const sim::FlashPart& part : sim::FlashParts()) {
    std::string id = sim::FlashIdText(part.id);
    std::erase(id, ' ');
    known += (known.empty() ? "" : ", ") + id;
  }
  return known;
}

}  // namespace

std::unique_ptr<DeviceBench> DeviceBench::Create(const GlobalOptions& options, CliEnvironment& env,
                                                 std::string& error) {
  std::unique_ptr<DeviceBench> bench(new DeviceBench);
  UsbPlatform* platform = nullptr;
  Sleeper* sleeper = env.sleeper;
  if (options.virtual_chip) {
    const std::optional<ChipIdBytes> id = ParseJedecId(options.virtual_id);
    if (!id) {
      error = "--virtual-id " + options.virtual_id + ": give six hexadecimal digits (C22013)";
      return nullptr;
    }
    // FF FF FF and 00 00 00 are what the bridge reads when no flash answers: the default part,
    // taken off the bus, with its lines floating to that byte.
    const bool no_flash = NoFlashAnswers(*id);
    if (!no_flash && sim::FindFlashPart(*id) == nullptr) {
      error = "--virtual-id " + options.virtual_id + ": the virtual chip knows no such part (" +
              KnownParts() + ", or FFFFFF and 000000 for no flash)";
      return nullptr;
    }
    sim::FlashConfig flash;
    if (!no_flash) flash.id = *id;
    flash.floating = no_flash ? (*id)[0] : 0xFF;
    flash.fill = 0xFF;  // a factory-fresh part
    bench->clock_ = std::make_unique<sim::VirtualClock>();
    bench->virtual_platform_ = std::make_unique<sim::VirtualUsbPlatform>();
    bench->chip_ = std::make_unique<sim::VirtualChip>(*bench->clock_, flash);
    bench->chip_->Flash().SetAbsent(no_flash);
    bench->chip_->SetTransferLatencyUs(options.virtual_latency_us);
    // The audio side as the demo's chip has it: a connected host playing 48 kHz PCM.
    bench->chip_->Registers().SetStatus(/*rate_code=*/0x01, /*a5=*/0x00, /*flags=*/0x01);
    bench->chip_->PlugInto(*bench->virtual_platform_, sim::kAudioPath);
    if (env.virtual_pauses_real) {
      bench->virtual_sleeper_ = std::make_unique<DemoSleeper>(*bench->clock_);
      sleeper = bench->virtual_sleeper_.get();
    } else {
      sleeper = bench->clock_.get();
    }
    platform = bench->virtual_platform_.get();

    bench->flash_file_ = options.virtual_flash;
    if (!bench->flash_file_.empty()) {
      bench->flash_lock_ = FlashFileLock::Take(bench->flash_file_, error);
      if (!bench->flash_lock_) return nullptr;
      if (const auto state = LoadChipState(bench->flash_file_)) {
        bench->chip_->Flash().SetStatus(state->status);
        bench->chip_->RestoreIspMode(state->isp_mode);
      }
    }
    std::error_code code;
    if (!bench->flash_file_.empty() && fs::exists(bench->flash_file_, code)) {
      if (!ReadWholeFile(bench->flash_file_, bench->flash_loaded_, error)) return nullptr;
      const std::uint32_t size = bench->chip_->Flash().Size();
      if (bench->flash_loaded_.size() != size) {
        error = "The virtual flash " + bench->flash_file_ + " holds " +
                std::to_string(bench->flash_loaded_.size()) + " bytes, but the part " +
                ChipIdText(*id) + " holds " + std::to_string(size) +
                ": give another file or the --virtual-id it was made with";
        return nullptr;
      }
      bench->flash_file_existed_ = true;
      bench->chip_->Flash().WriteRange(0, bench->flash_loaded_);
    }
    if (env.virtual_chip_made) env.virtual_chip_made(*bench->chip_);
  } else {
    bench->real_platform_ = env.make_usb_platform();
    platform = bench->real_platform_.get();
  }
  if (options.verbose) {
    bench->request_log_ = std::make_unique<RequestLog>(*platform, env.err);
    platform = bench->request_log_.get();
  }
  bench->bus_ = platform;
  bench->sleeper_ = sleeper;
  bench->usb_ = std::make_unique<VelmoraUsb>(*platform);
  bench->link_.reset(new ChipLink{*bench->usb_, *sleeper});
  return bench;
}

void DeviceBench::RestrictTo(const std::string& identity) {
  link_.reset();
  usb_.reset();
  only_device_ = OnlyDevice(*bus_, identity);
  usb_ = std::make_unique<VelmoraUsb>(*only_device_);
  link_.reset(new ChipLink{*usb_, *sleeper_});
}

FileWriteResult DeviceBench::SaveVirtualFlash() {
  if (!chip_ || flash_file_.empty()) return {true, {}};
  const FileWriteResult state = SaveChipState(
      flash_file_, {chip_->InIspMode(), static_cast<std::uint8_t>(chip_->Flash().Status() & 0xFE)});
  if (!state.ok) return state;
  const std::vector<std::uint8_t> now = chip_->Flash().ReadRange(0, chip_->Flash().Size());
  if (flash_file_existed_ && now == flash_loaded_) return {true, {}};
  return WriteFileAtomically(flash_file_, now);
}

}  // namespace velmora::cli
