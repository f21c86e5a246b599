#!/usr/bin/env python3
"""Plants plausible one-line faults in the code, one at a time, and checks the suite catches each.

For every fault: replace its exact text in its file (in this working tree, no copy), build
incrementally, run ctest, put the file back byte for byte (also on Ctrl-C or an error), and
report "caught", "NOT caught", "did not apply" (the text is not once in the file: the code moved
on and the fault needs mending) or "build failed" (the fault itself does not compile).

  tests/plant_faults.py [--build DIR] [--filter TEXT] [--list] [--ctest-regex REGEX]
                        [--shard K/N]

Faults in headers rebuild most of the tree, so they run after the others. --shard K/N takes
every Nth fault from the Kth, so N working trees (each with its own build) share one list.

Exit 1 unless every fault is caught. Slow (a build and a suite per fault): run it
before handing work in, not on every commit.
"""

import argparse
import os
import pathlib
import signal
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent

# (name, file, exact old text, new text). The old text must occur exactly once in the file.
FAULTS = [
    # Device link and wire formats.
    ("link-empty-match-matches-all", "src/device/velmora_usb.cpp",
     "if (match_text_.empty() || path.find(match_text_) == std::string::npos) continue;",
     "if (path.find(match_text_) == std::string::npos) continue;"),
    ("link-long-path-kept", "src/device/velmora_usb.cpp",
     "if (path.size() > kMaxDevicePath) continue;",
     "if (path.size() > kMaxDevicePath + 1) continue;"),
    ("wire-put16-bytes-swapped", "src/device/wire_formats.cpp",
     "  at[0] = static_cast<std::uint8_t>(value);\n  at[1] = static_cast<std::uint8_t>(value >> 8);",
     "  at[1] = static_cast<std::uint8_t>(value);\n  at[0] = static_cast<std::uint8_t>(value >> 8);"),
    ("wire-property-trailer-off-by-one", "src/device/wire_formats.cpp",
     "constexpr std::uint32_t kPropertyTrailer = 7;",
     "constexpr std::uint32_t kPropertyTrailer = 8;"),
    ("wire-ioctl-in-function-number", "src/device/wire_formats.h",
     "ControlCode(kFileDeviceUnknown, 0x90B,", "ControlCode(kFileDeviceUnknown, 0x90C,"),
    ("wire-generic-code-direction-reversed", "src/device/wire_formats.h",
     "return setup.DeviceToHost() ? kIoctlControlIn : kIoctlControlOut;",
     "return setup.DeviceToHost() ? kIoctlControlOut : kIoctlControlIn;"),
    ("wire-descriptor-probe-length", "src/device/wire_formats.h",
     "kDescriptorProbeLength = 18;", "kDescriptorProbeLength = 8;"),
    # Chip commands.
    ("chip-address-bytes-swapped", "src/device/chip_commands.cpp",
     "  out[0] = static_cast<std::uint8_t>(address >> 16);\n"
     "  out[1] = static_cast<std::uint8_t>(address >> 8);",
     "  out[0] = static_cast<std::uint8_t>(address >> 8);\n"
     "  out[1] = static_cast<std::uint8_t>(address >> 16);"),
    ("chip-read-without-ready-poll", "src/device/chip_commands.cpp",
     "    if (SpiReady(link)) break;\n    link.sleeper.SleepMs(1);",
     "    break;\n    link.sleeper.SleepMs(1);"),
    ("chip-page-header-ends-command", "src/device/chip_commands.cpp",
     "if (!Out(link, request::kSpiWrite, 0, 0, command, 4)) return false;",
     "if (!Out(link, request::kSpiWrite, 0, 1, command, 4)) return false;"),
    ("chip-i2c-ack-inverted", "src/device/chip_commands.cpp",
     "return (status & 0x08) == 0;", "return (status & 0x08) != 0;"),
    ("chip-i2c-read-address-without-read-bit", "src/device/chip_commands.cpp",
     "if (!I2cAddressPhase(link, address | 0x01)) return false;",
     "if (!I2cAddressPhase(link, address)) return false;"),
    ("chip-mailbox-block-one-too-long", "src/device/chip_commands.cpp",
     "if (count > kMailboxMaxData) return false;", "if (count > kMailboxMaxData + 1) return false;"),
    ("chip-isp-enter-bus-setup-value", "src/device/chip_commands.cpp",
     "  RegWrite(link, 0x01, 0x03);", "  RegWrite(link, 0x01, 0x02);"),
    ("chip-read-poll-pause-10ms", "src/device/chip_commands.cpp",
     "    link.sleeper.SleepMs(1);", "    link.sleeper.SleepMs(10);"),
    ("chip-mailbox-command-not-withdrawn", "src/device/chip_commands.cpp",
     "    RegWrite(link, kMailboxCommand, 0x00);\n", ""),
    ("chip-isp-exit-leaves-mode-register", "src/device/chip_commands.cpp",
     "  RegWrite(link, 0x07, 0x00);", "  RegWrite(link, 0x07, 0x10);"),
    # Loaders.
    ("hex-address-bytes-swapped", "src/isp/hex_image_decoder.cpp",
     "(std::uint32_t{bytes_[1]} << 8) | bytes_[2];", "(std::uint32_t{bytes_[2]} << 8) | bytes_[1];"),
    ("hex-linear-base-shift", "src/isp/hex_image_decoder.cpp",
     "value << 4 : value << 16;", "value << 4 : value << 12;"),
    ("hex-checksum-ignored", "src/isp/hex_image_decoder.cpp",
     "  if (sum != 0) {", "  if (sum != 0 && bytes_.empty()) {"),
    ("hex-image-end-off-by-one", "src/isp/hex_image_decoder.cpp",
     "if (end > kProgramImageSize) {", "if (end > kProgramImageSize + 1) {"),
    ("binary-length-off-by-one", "src/isp/binary_image_loader.cpp",
     "scratch.length = static_cast<std::uint32_t>(in.gcount());",
     "scratch.length = static_cast<std::uint32_t>(in.gcount()) - 1;"),
    # Flash engine.
    ("erase-without-write-enable", "src/isp/flash_erase.cpp",
     "if (!FlashWriteEnable(ctx.link) || !send_erase()) return PollEnd::Failed;",
     "if (!send_erase()) return PollEnd::Failed;"),
    ("erase-skips-every-other-sector", "src/isp/flash_erase.cpp",
     "a < extent.end; a += kSectorSize)", "a < extent.end; a += 2 * kSectorSize)"),
    ("program-without-idle-wait", "src/isp/flash_range_ops.cpp",
     "    if (!IsBusy(StatusForWait(link))) return true;\n    link.sleeper.SleepMs(kBusyPauseMs);",
     "    if (IsBusy(StatusForWait(link)) || true) return true;\n    link.sleeper.SleepMs(kBusyPauseMs);"),
    ("verify-last-byte-unchecked", "src/isp/flash_range_ops.cpp",
     "while (p < size && a + p < end && chunk[p] == expected(a + p)) ++p;",
     "while (p < size && a + p + 1 < end && chunk[p] == expected(a + p)) ++p;"),
    ("program-skips-pages-of-ff-and-00", "src/isp/flash_range_ops.cpp",
     "[](std::uint8_t b) { return b == 0xFF; }", "[](std::uint8_t b) { return b == 0xFF || b == 0; }"),
    # Auto sequence.
    ("auto-protect-check-ignores-bits", "src/isp/auto_sequence.cpp",
     "return status && (*status & bits) == bits;", "return status && (*status & bits) != 0;"),
    ("auto-clear-status-check-ignored", "src/isp/auto_sequence.cpp",
     "return status && (*status & kAllBlockProtectBits) == 0;", "return status.has_value();"),
    # Read-back.
    ("read-back-second-read-unchecked", "src/isp/flash_read_back.cpp",
     "while (p < kReadChunkSize && first[p] == second[p]) ++p;", "p = kReadChunkSize;"),
    # Registers and status decoding.
    ("status-dsd-flag-bit", "src/registers/device_status.cpp",
     "kConnected = 0x01, kDsd = 0x02, kMuted = 0x04;", "kConnected = 0x01, kDsd = 0x04, kMuted = 0x02;"),
    ("status-rate-code-mask", "src/registers/device_status.cpp",
     "status.rate_code & 0x0F;", "status.rate_code & 0x07;"),
    ("script-reg-write-read-back-pause", "src/registers/script_access.cpp",
     "    link.sleeper.SleepMs(kRegisterPageRules.bit_write_pause_ms);\n", ""),
    ("script-i2c-write-read-back-pause", "src/registers/script_access.cpp",
     "    link.sleeper.SleepMs(kI2cPageRules.bit_write_pause_ms);\n", ""),
    # Params codec and user table.
    ("params-string-length-byte", "src/params/parameter_block.cpp",
     "field[0] = static_cast<std::uint8_t>(text.size());",
     "field[0] = static_cast<std::uint8_t>(text.size() + 1);"),
    ("params-mclk-mask", "src/params/parameter_block.cpp",
     "constexpr std::uint8_t kMclkMask = 0x03;", "constexpr std::uint8_t kMclkMask = 0x01;"),
    ("user-table-id-little-endian", "src/params/user_table.cpp",
     "  at[0] = static_cast<std::uint8_t>(value >> 8);\n  at[1] = static_cast<std::uint8_t>(value & 0xFF);",
     "  at[1] = static_cast<std::uint8_t>(value >> 8);\n  at[0] = static_cast<std::uint8_t>(value & 0xFF);"),
    ("user-table-cut-short-accepted", "src/params/user_table.cpp",
     "image_size - table_offset >= kUserTableSize;", "image_size - table_offset + 1 >= kUserTableSize;"),
    # Settings codec and INI.
    ("setting-size-shift", "src/app/settings/isp_setting.cpp",
     "constexpr int kSizeShift = 8;", "constexpr int kSizeShift = 9;"),
    ("setting-range-bit", "src/app/settings/isp_setting.cpp",
     "constexpr int kRangeBit = 7;", "constexpr int kRangeBit = 6;"),
    ("registry-dword-byte-order", "src/app/settings/registry_values.cpp",
     "static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |",
     "static_cast<std::uint32_t>(bytes[1]) | static_cast<std::uint32_t>(bytes[0]) << 8 |"),
    ("ini-comma-path-joined-with-space", "src/app/ini_settings_store.cpp",
     "value.toStringList().join(',')", "value.toStringList().join(\", \")"),
    # The virtual chip's strictness.
    ("sim-reads-data-before-ready", "sim/virtual_chip.cpp",
     "if (!read_back_ready_ || length > read_back_count_) return false;",
     "if (length > read_back_count_) return false;"),
    ("sim-page-program-sets-bits", "sim/spi_flash_model.cpp",
     "memory_[page + column] &= page_latch_[column];", "memory_[page + column] = page_latch_[column];"),
    ("sim-sector-erase-without-write-enable", "sim/spi_flash_model.cpp",
     "if (bytes_in_ == 4 && write_enabled) EraseSector(CommandAddress());",
     "if (bytes_in_ == 4) EraseSector(CommandAddress());"),
    ("sim-page-column-wraps-at-256", "sim/spi_flash_model.cpp",
     "(CommandAddress() + (position - 4)) % PageSize();", "(CommandAddress() + (position - 4)) % 256;"),
    ("sim-status-write-without-write-enable", "sim/spi_flash_model.cpp",
     "if (bytes_in_ == 2 && write_enabled) WriteStatus(header_[1]);",
     "if (bytes_in_ == 2) WriteStatus(header_[1]);"),
    # Command line.
    ("cli-negative-range-size-accepted", "src/cli/arguments.cpp",
     "*start_kb < 0 || *size_kb < 0)", "*start_kb < 0)"),
    ("cli-refused-verdict-failed", "src/cli/run_report.cpp",
     'json_["verdict"] = "refused";', 'json_["verdict"] = "failed";'),
    ("cli-no-device-verdict-refused", "src/cli/run_report.cpp",
     'json_["verdict"] = "no device";', 'json_["verdict"] = "refused";'),
    ("cli-hex-width-unchecked", "src/cli/arguments.cpp",
     "if (bits < 32 && value >> bits != 0) return std::nullopt;",
     "if (bits < 32 && value >> (bits + 1) != 0) return std::nullopt;"),
    # App: start-up order and defaults, detection timing, ids and texts, claims, hidden pages.
    ("app-startup-boxes-6013-before-detection", "src/app/form_create.cpp",
     "  ui->lbledtPID->setText(QString::fromStdString(presence_.PidText()));",
     '  ui->lbledtPID->setText("6013");'),
    ("app-startup-pid-box-6012", "src/app/form_create.cpp",
     '  ui->lbledtPID->setText("6013");', '  ui->lbledtPID->setText("6012");'),
    ("app-startup-default-pid-6013", "src/app/form_create.cpp",
     'constexpr const char* kDefaultPid = "6012";', 'constexpr const char* kDefaultPid = "6013";'),
    ("app-startup-range-click-skipped", "src/app/form_create.cpp",
     "  rbnRangeClick();\n\n  // The file is only remembered", "\n  // The file is only remembered"),
    ("app-startup-gone-file-offered", "src/app/form_create.cpp",
     "    if (file.open(QIODevice::ReadOnly)) {", "    if (true) {"),
    ("app-close-leaves-device-open", "src/app/form_create.cpp",
     "  if (usb_.IsFound()) usb_.Close();\n  SaveSettings();", "  SaveSettings();"),
    ("app-ini-isp-setting-beyond-32-bits", "src/app/ini_settings_store.cpp",
     "  if (!ok || number > 0xFFFFFFFFull) return std::nullopt;", "  if (!ok) return std::nullopt;"),
    ("app-detection-first-interval-300", "src/app/tform1.cpp",
     "  Timer1->setInterval(1000);", "  Timer1->setInterval(300);"),
    ("app-detection-loader-ids-swapped", "src/app/presence_monitor.cpp",
     "usb_.SetMatchText(firmware_update_toggle_ ? kLoader1d7a : kLoader6ccf);",
     "usb_.SetMatchText(firmware_update_toggle_ ? kLoader6ccf : kLoader1d7a);"),
    ("app-detection-label-shows-vid", "src/app/presence_monitor.cpp",
     '"Device " + pid_text_ + " is exist"', '"Device " + vid_text_ + " is exist"'),
    ("app-detection-match-text-not-lowered", "src/app/presence_monitor.cpp",
     "  if (!lower) return;", "  if (lower) return;"),
    ("app-detection-ticks-while-auto-runs", "src/app/presence_monitor.cpp",
     "  if (auto_busy) return outcome;", "  if (auto_busy && false) return outcome;"),
    ("app-detection-off-keeps-found", "src/app/presence_monitor.cpp",
     "  on_ = false;\n  usb_.ClearFound();", "  on_ = false;"),
    ("app-detection-ticks-under-a-claim", "src/app/detection_handlers.cpp",
     "  if (DeviceBusy()) return;\n", "\n"),
    ("app-look-once-loader-toggle-swapped", "src/app/presence_monitor.cpp",
     "{LoaderSearch{kLoader6ccf, true}, {kLoader1d7a, false}}",
     "{LoaderSearch{kLoader6ccf, false}, {kLoader1d7a, true}}"),
    ("app-hidden-page-reachable", "src/app/tform1.cpp",
     "  if (index < 0 || pages->isTabVisible(index)) return;", "  if (index >= -1) return;"),
    ("app-nested-handler-claims-again", "src/app/tform1.cpp",
     "  if (!device_claimed_) {", "  if (true) {"),
    ("app-claim-ignores-other-programs-lock", "src/app/tform1.cpp",
     "    if (lock != nullptr || !with_lock || !usb_.IsFound()) {", "    if (true) {"),
    ("app-options-qt-option-value-taken-as-argument", "src/app/command_line.cpp",
     "      if (!arguments[i].contains('=')) ++i;  // the value follows", "      // the value follows"),
    ("app-handler-error-escapes", "src/app/tform1.cpp",
     "  } catch (const std::exception& error) {\n    dialogs_.ShowError(QString::fromStdString(error.what()));\n  }\n",
     "  }\n"),
    # Command line and station: the report, the output files, the device lock, the steps' outcomes;
    # the station's serial field, counter, stop and restart.
    ("cli-report-bytes-not-escaped", "src/cli/run_report.cpp",
     "  EscapeInvalidUtf8(safe);\n", ""),
    ("cli-unwritten-report-ignored", "src/cli/isp_cli.cpp",
     "if (!written.ok) code = LateFailure(ctx, code, written.error);", "(void)written;"),
    ("cli-read-only-output-accepted", "src/cli/output_paths.cpp",
     "if (ReadOnly(status)) return", "if (ReadOnly(status) && file.path.empty()) return"),
    ("cli-two-outputs-one-file-accepted", "src/cli/output_paths.cpp",
     "if (SameFile(outputs[i].path, outputs[j].path)) {", "if (false) {"),
    ("cli-device-lock-ignored", "src/cli/cli_context.cpp",
     "if (!lock) return Fail(ctx, kExitStepFailed, error);", ""),
    ("cli-unticked-step-shown-skipped", "src/cli/auto_command.cpp",
     'Ticked(steps, profile, step) ? "skipped" : "off";',
     'Ticked(steps, profile, step) ? "skipped" : "skipped";'),
    ("cli-blank-mismatches-named-verify", "src/cli/auto_command.cpp",
     '(blank ? "Blank check" : "Verify")', '(blank ? "Verify" : "Verify")'),
    ("cli-partial-read-back-named-out", "src/cli/read_back_command.cpp",
     'std::string name = out + ".partial";', "std::string name = out;"),
    ("cli-params-caption-reads-another-bit", "src/cli/params_commands.cpp",
     '{"I2S Output length", on(bit::kI2sWord32)', '{"I2S Output length", on(bit::kSpdifWord32)'),
    ("station-serial-in-product-field", "src/station/station_engine.cpp",
     "kUserTableStringsOffset + 2 * kUserStringSize;", "kUserTableStringsOffset + 1 * kUserStringSize;"),
    ("station-counter-skips-a-number", "src/station/station_record.cpp",
     "RETURNING next_number - 1", "RETURNING next_number"),
    ("station-killed-boards-not-marked", "src/station/station_record.cpp",
     "WHERE bench = ? AND verdict = 'running' RETURNING id", "WHERE bench = ? AND verdict = 'none' RETURNING id"),
    ("station-stop-abandons-boards", "src/station/station_loop.cpp",
     "if ((stopping || enough) && running.empty()) break;",
     "if (stopping || (enough && running.empty())) break;"),
    ("station-image-without-table-accepted", "src/station/station_command.cpp",
     "if (const auto refusal = JobRefusal(job)) return Fail(ctx, kExitUsage, *refusal);", ""),
    ("station-board-lock-ignored", "src/station/usb_board_source.cpp",
     "  if (!lock) return nullptr;\n  std::unique_ptr<UsbPlatform> platform", "  std::unique_ptr<UsbPlatform> platform"),
    ("cli-patch-table-ports-swapped", "src/cli/image_commands.cpp",
     '"--play-port", "--record-port"}', '"--record-port", "--play-port"}'),
    ("cli-virtual-flash-lock-ignored", "src/cli/device_bench.cpp",
     "      if (!bench->flash_lock_) return nullptr;\n", ""),
    ("cli-virtual-flash-size-unchecked", "src/cli/device_bench.cpp",
     "if (bench->flash_loaded_.size() != size) {", "if (bench->flash_loaded_.size() > size) {"),
    ("cli-several-devices-without-verdict", "src/cli/cli_context.cpp",
     '    return Refuse(\n        ctx, "Several devices match',
     '    return Fail(\n        ctx, kExitUsage, "Several devices match'),
    ("cli-bench-refusal-without-verdict", "src/cli/cli_context.cpp",
     "if (!ctx.bench) return Refuse(ctx, error);", "if (!ctx.bench) return Fail(ctx, kExitUsage, error);"),
    # tests/isp: geometry rules, progress texts, retries, read-back, files and the ISP page.
    ("isp-page-size-any-maker", "src/isp/flash_geometry.h",
     "return id[0] == 0xC2 && id[1] == 0x22 ? kSmallPageSize", "return id[1] == 0x22 ? kSmallPageSize"),
    ("isp-small-parts-protect-bits", "src/isp/flash_geometry.h",
     "== kSmallPageSize ? 0x0C : kAllBlockProtectBits", "== kSmallPageSize ? 0x1C : kAllBlockProtectBits"),
    ("isp-erase-budget-not-grown", "src/isp/flash_geometry.h",
     "return kStatusPolls << (code - 0x13);", "return kStatusPolls;"),
    ("isp-capacity-doubled", "src/isp/flash_geometry.h",
     "std::uint64_t{1} << code, kFlashAddressLimit", "std::uint64_t{1} << (code + 1), kFlashAddressLimit"),
    ("isp-kilobytes-wrap", "src/isp/flash_geometry.h",
     "return bytes < 0 || bytes > std::int64_t{UINT32_MAX} ? UINT32_MAX", "return false ? UINT32_MAX"),
    ("isp-chunk-four-attempts", "src/isp/flash_geometry.h",
     "kChunkAttempts = 3;", "kChunkAttempts = 4;"),
    ("isp-status-polls-999", "src/isp/flash_geometry.h", "kStatusPolls = 1000;", "kStatusPolls = 999;"),
    ("isp-read-back-fill-zero", "src/isp/flash_geometry.h",
     "kReadBackFill = 0x5A;", "kReadBackFill = 0x00;"),
    ("isp-read-back-end-short", "src/isp/flash_geometry.h",
     "kReadBackEnd = 0x20000;", "kReadBackEnd = 0x1FFC0;"),
    ("isp-erase-dots-every-ten-polls", "src/isp/flash_texts.cpp",
     "(poll / 20) % 10", "(poll / 10) % 10"),
    ("isp-sector-progress-without-space", "src/isp/flash_texts.cpp",
     '"Flash Sector Erase: 0x "', '"Flash Sector Erase: 0x"'),
    ("isp-program-button-text", "src/isp/flash_texts.h",
     'kStartProgramButton = "Start Programming...";', 'kStartProgramButton = "Start Programming";'),
    ("isp-failed-status-read-idle", "src/isp/flash_status.cpp",
     "return ReadStatusChecked(link).value_or(0xFF);", "return ReadStatusChecked(link).value_or(0x00);"),
    ("isp-dialog-text-three-spaces", "src/isp/program_file.cpp",
     'return result.message + "    ";', 'return result.message + "   ";'),
    ("isp-extension-upper-case-unknown", "src/isp/program_file.cpp", "    case 'B':\n", ""),
    ("isp-atomic-replaces-the-link", "src/isp/atomic_file.cpp",
     "  for (int hop = 0; hop < kMaxLinkHops; ++hop) {", "  for (int hop = 0; hop < 0; ++hop) {"),
    ("isp-atomic-mode-not-kept", "src/isp/atomic_file.cpp",
     "if (!replaces || ::fchmod(fd, existing.st_mode & 07777) == 0)", "if (true)"),
    ("isp-atomic-replaces-pipe", "src/isp/atomic_file.cpp",
     "if (fs::exists(existing) && !fs::is_regular_file(existing)) {", "if (false) {"),
    ("isp-auto-unaligned-accepted", "src/isp/auto_sequence.cpp",
     "    if (!SectorAligned(range)) return texts::kUnalignedRange;", ""),
    ("isp-range-click-size-kept", "src/isp/isp_range_handlers.cpp",
     "  RangeSize = velmora::KilobytesToBytes(velmora::StrToIntOrRaise(ui->lbledISPRange->text()));",
     "  velmora::StrToIntOrRaise(ui->lbledISPRange->text());"),
    ("isp-auto-not-busy-while-running", "src/isp/isp_auto_handler.cpp",
     "form.AutoBusy = form.auto_running_ = true;", "form.auto_running_ = true;"),
    # registers and params pages: grid mapping, keys, pauses, full read, I2C engine, status bank,
    # special I2C, option controls, mailbox items, user table search, save refusal, HID, bars.
    ("reg-cell-to-register-transposed", "src/registers/register_grid.cpp",
     "return static_cast<std::uint8_t>((row - 1) * kGridSide + (col - 1));",
     "return static_cast<std::uint8_t>((col - 1) * kGridSide + (row - 1));"),
    ("reg-register-to-cell-transposed", "src/registers/register_grid.cpp",
     "return {index % kGridSide + 1, index / kGridSide + 1};",
     "return {index / kGridSide + 1, index % kGridSide + 1};"),
    ("reg-bit-box-pause-1ms", "src/registers/grid_keys.h",
     'kRegisterPageRules{"Read Bank", StepStart::StoredEntry, 1, 3, false};',
     'kRegisterPageRules{"Read Bank", StepStart::StoredEntry, 1, 1, false};'),
    ("reg-i2c-steps-from-stored-entry", "src/registers/grid_keys.h",
     'kI2cPageRules{"Read", StepStart::CellText, 1, 30, true};',
     'kI2cPageRules{"Read", StepStart::StoredEntry, 1, 30, true};'),
    ("reg-i2c-failed-read-shows-old-entry", "src/registers/grid_keys.h",
     'kI2cPageRules{"Read", StepStart::CellText, 1, 30, true};',
     'kI2cPageRules{"Read", StepStart::CellText, 1, 30, false};'),
    ("reg-insert-wraps-at-ff", "src/registers/grid_keys.cpp",
     "if (start == 0xFF) return {start, false};", "if (start == 0xFE) return {start, false};"),
    ("reg-write-shows-value-not-read-back", "src/registers/register_access.cpp",
     "  sleeper_.SleepMs(pause_ms);\n  const std::optional<std::uint8_t> read = ReadIntoImage(index);",
     "  sleeper_.SleepMs(pause_ms);\n  const std::optional<std::uint8_t> read = value;"),
    ("reg-full-read-ignores-stop", "src/registers/register_access.cpp",
     "    if (front.StopRequested()) {", "    if (false && front.StopRequested()) {"),
    ("reg-full-read-without-pump", "src/registers/register_access.cpp", "    front.Pump();\n", ""),
    ("reg-i2c-engine-set-up-on-entry-only", "src/registers/register_port.cpp",
     "void I2cSlaveRegisterPort::Prepare() {\n  I2cMasterSetup(link_);\n}",
     "void I2cSlaveRegisterPort::Prepare() {\n}"),
    ("reg-i2c-entry-without-set-up", "src/registers/i2c_page_handlers.cpp",
     "  velmora::I2cMasterSetup(register_link_);\n", ""),
    ("reg-header-highlight-row-from-column", "src/registers/register_grid_page.cpp",
     "controls_.grid->SetCellColour(0, cell.row, kHighlight);",
     "controls_.grid->SetCellColour(0, cell.col, kHighlight);"),
    ("reg-status-without-bank-select", "src/registers/device_status.cpp",
     "  RegSelectBank(link, 0x00);\n", ""),
    ("reg-special-data-length-from-command-bar", "src/registers/special_i2c_handlers.cpp",
     'FieldBytes(*this, "edtI2Cdat", ui->srblen1->value());',
     'FieldBytes(*this, "edtI2Cdat", ui->srblen0->value());'),
    ("reg-special-write-without-engine-set-up", "src/registers/special_i2c.cpp",
     "  I2cMasterSetup(link);\n  const bool ok = I2cWriteRaw(", "  const bool ok = I2cWriteRaw("),
    ("params-i2s-format-bit-inverted", "src/params/parameter_handlers.cpp",
     "!ui->rbnI2SFormat0->isChecked()", "ui->rbnI2SFormat0->isChecked()"),
    ("params-dsd-out-shown-swapped", "src/params/parameter_handlers.cpp",
     "(on(bit::kDsdOutNative) ? ui->rbnDSDOut0 : ui->rbnDSDOut1)",
     "(on(bit::kDsdOutNative) ? ui->rbnDSDOut1 : ui->rbnDSDOut0)"),
    ("params-eeprom-bit-6", "src/params/parameter_block.h",
     "kEepromPresent{3, 7};", "kEepromPresent{3, 6};"),
    ("params-string3-item", "src/params/parameter_commands.h", "kString3 = 0x18;", "kString3 = 0x1C;"),
    ("params-string-chunk-pause-20ms", "src/params/parameter_commands.h",
     "kStringChunkPauseMs = 50;", "kStringChunkPauseMs = 20;"),
    ("params-vid-pid-items-swapped", "src/params/parameter_text_handlers.cpp",
     "vid ? velmora::parameter_item::kVendorId : velmora::parameter_item::kProductId",
     "vid ? velmora::parameter_item::kProductId : velmora::parameter_item::kVendorId"),
    ("params-bin-search-keeps-old-table", "src/params/bin_file_handlers.cpp",
     "  UserTableOffset.reset();\n", ""),
    ("params-bin-cut-short-table-taken", "src/params/bin_file_handlers.cpp",
     "if (search.Found()) UserTableOffset = search.offset;",
     "if (search.offset != 0) UserTableOffset = search.offset;"),
    ("params-bin-sum-three-digits", "src/params/bin_file_handlers.cpp",
     "texts::Hex(patched.sum, 4)", "texts::Hex(patched.sum, 3)"),
    ("params-marker-nine-characters", "src/params/user_table.h",
     "kUserTableMarkerMatch = 10;", "kUserTableMarkerMatch = 9;"),
    ("params-hid-eleven-polls", "src/params/hid_keys.cpp",
     "constexpr int kPolls = 10;", "constexpr int kPolls = 11;"),
    ("params-hid-volume-keys-swapped", "src/params/hid_keys.h",
     "HidKeyCode = {0x40, 0x02, 0x10, 0x01, 0x20};", "HidKeyCode = {0x40, 0x01, 0x10, 0x02, 0x20};"),
    ("params-length-bar-one-too-many", "src/params/length_bars.h",
     "return field < position;", "return field <= position;"),
    # device and sim: the link, the command set and the virtual chip's refusals.
    ("device-find-keeps-an-earlier-outcome", "src/device/velmora_usb.cpp",
     "    outcome = false;\n", ""),
    ("device-presence-check-never-clears", "src/device/velmora_usb.cpp",
     "found_ = Search([](const std::string&) {}) ? 1 : 0;",
     "if (Search([](const std::string&) {})) found_ = 1;"),
    ("device-open-keeps-the-held-handle", "src/device/velmora_usb.cpp",
     "bool VelmoraUsb::Open() {\n  Close();", "bool VelmoraUsb::Open() {"),
    ("device-transfer-without-handle-sent", "src/device/velmora_usb.cpp",
     "  if (handle_ == kNoHandle) return false;\n", ""),
    ("device-match-text-one-too-long", "src/device/velmora_usb.cpp",
     "text.substr(0, kMaxMatchText)", "text.substr(0, kMaxMatchText + 1)"),
    ("device-wire-setup-byte-copied", "src/device/wire_formats.cpp",
     "request[24] = kPropertySetupRequestType;", "request[24] = setup.request_type;"),
    ("device-wire-request-size-wraps", "src/device/wire_formats.cpp",
     "  if (size > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;\n", ""),
    ("device-access-fix-any-usr-program", "src/device/usb_access_fix.cpp",
     'program_path.starts_with("/usr/bin/")', 'program_path.starts_with("/usr/")'),
    ("device-status-polls-eleven", "src/device/chip_commands.cpp",
     "kStatusReadyPolls = 10;", "kStatusReadyPolls = 11;"),
    ("device-id-polls-ninety-nine", "src/device/chip_commands.cpp",
     "kIdReadyPolls = 100;", "kIdReadyPolls = 99;"),
    ("device-i2c-done-polls-nineteen", "src/device/chip_commands.cpp",
     "kI2cDonePolls = 20;", "kI2cDonePolls = 19;"),
    ("device-i2c-address-attempts-nine", "src/device/chip_commands.cpp",
     "kI2cAddressAttempts = 10;", "kI2cAddressAttempts = 9;"),
    ("device-i2c-received-byte-not-polled", "src/device/chip_commands.cpp",
     "  RegWrite(link, kI2cGo, kI2cGoReceive);\n  for (int poll = 0; poll < kI2cDonePolls; ++poll) {\n"
     "    if (I2cIsDone(link)) break;\n  }\n",
     "  RegWrite(link, kI2cGo, kI2cGoReceive);\n"),
    ("device-i2c-read-last-byte-acked", "src/device/chip_commands.cpp",
     "I2cReadByte(link, i == data_count - 1, dst[i]);", "I2cReadByte(link, i == data_count, dst[i]);"),
    ("device-mailbox-polls-nineteen", "src/device/chip_commands.cpp",
     "kMailboxPolls = 20;", "kMailboxPolls = 19;"),
    ("device-mailbox-parameters-swapped", "src/device/chip_commands.cpp",
     "  RegWrite(link, kMailboxP1, p1);\n  RegWrite(link, kMailboxP2, p2);",
     "  RegWrite(link, kMailboxP1, p2);\n  RegWrite(link, kMailboxP2, p1);"),
    ("device-page-program-answers-for-its-header", "src/device/chip_commands.cpp",
     "  return Out(link, request::kSpiWrite, 0, 1, data, count);",
     "  Out(link, request::kSpiWrite, 0, 1, data, count);\n  return true;"),
    ("device-master-setup-answers-for-the-bank", "src/device/chip_commands.cpp",
     "  RegWrite(link, 0x00, 0x0E);\n  return RegWrite(link, kI2cSetup, 0x04);",
     "  const bool ok = RegWrite(link, 0x00, 0x0E);\n  RegWrite(link, kI2cSetup, 0x04);\n  return ok;"),
    ("simx-spi-write-any-index", "sim/virtual_chip.cpp",
     "setup.index > 1) return false;", "setup.index > 2) return false;"),
    ("simx-isp-key-with-data-stage", "sim/virtual_chip.cpp",
     "if (!Is(setup, kOut, kIspEnterValue, kIspEnterIndex) || length != 0) return false;",
     "if (!Is(setup, kOut, kIspEnterValue, kIspEnterIndex)) return false;"),
    ("simx-firmware-bus-reports-finished", "sim/virtual_chip.cpp",
     "const bool finished = !never_ready_ && FlashReachable() &&",
     "const bool finished = !never_ready_ &&"),
    ("simx-read-back-longer-than-read", "sim/virtual_chip.cpp",
     "if (!read_back_ready_ || length > read_back_count_) return false;",
     "if (!read_back_ready_) return false;"),
    ("simx-busy-part-hears-everything", "sim/spi_flash_model.cpp",
     "phase_ = (Busy() && mosi != kReadStatus) ? Phase::Ignored : Phase::Collecting;",
     "phase_ = Phase::Collecting;"),
    ("simx-write-enable-outlives-the-cycle", "sim/spi_flash_model.cpp",
     "    status_ &= static_cast<std::uint8_t>(~kWel);  // the finished cycle consumes write enable\n",
     ""),
    ("simx-chip-erase-ignores-protection", "sim/spi_flash_model.cpp",
     "  if ((status_ & part_.block_protect_bits) != 0)\n    return;  // any protect bit blocks the whole-chip erase\n",
     ""),
    ("simx-program-ignores-protection", "sim/spi_flash_model.cpp",
     "  if (IsProtected(page)) return;\n", ""),
    ("simx-sector-erase-run-long", "sim/spi_flash_model.cpp",
     "if (bytes_in_ == 4 && write_enabled) EraseSector", "if (bytes_in_ >= 4 && write_enabled) EraseSector"),
    ("simx-engine-in-every-bank", "sim/chip_registers.cpp",
     "if (bank_ == kI2cBank && I2cMasterEngine::Owns(reg)) {", "if (I2cMasterEngine::Owns(reg)) {"),
    ("simx-mailbox-in-every-bank", "sim/chip_registers.cpp",
     "if (bank_ == kMailboxBank && reg == ChipMailbox::kCommand) {", "if (reg == ChipMailbox::kCommand) {"),
    ("simx-received-byte-before-done", "sim/i2c_master_engine.cpp",
     "  result_received_ = received;\n", "  result_received_ = received;\n  if (received) rx_byte_ = *received;\n"),
    ("simx-go-not-used-up", "sim/i2c_master_engine.cpp",
     "      if (send_armed_) {\n        send_armed_ = false;\n", "      if (send_armed_) {\n"),
    ("simx-hid-key-answered-at-once", "sim/chip_mailbox.cpp",
     "(pending_hid_ ? hid_delay_us_ : command_delay_us_)", "(pending_hid_ ? 0 : command_delay_us_)"),
    # tests/sim and tests/device, final trim: what the merged and shortened tests still guard.
    ("device-i2c-raw-write-repeats-first-command", "src/device/chip_commands.cpp",
     "  for (int i = 0; i < command_count; ++i) I2cWriteByte(link, command[i]);\n"
     "  for (int i = 0; i < data_count; ++i) I2cWriteByte(link, data[i]);",
     "  for (int i = 0; i < command_count; ++i) I2cWriteByte(link, command[0]);\n"
     "  for (int i = 0; i < data_count; ++i) I2cWriteByte(link, data[i]);"),
    ("simx-write-enable-with-extra-bytes", "sim/spi_flash_model.cpp",
     "      if (bytes_in_ == 1) status_ |= kWel;", "      if (bytes_in_ >= 1) status_ |= kWel;"),
    ("simx-sector-erase-half-sector", "sim/spi_flash_model.cpp",
     "const std::uint32_t sector = address & ~(SectorSize() - 1);",
     "const std::uint32_t sector = address & ~(SectorSize() / 2 - 1);"),
    ("simx-mailbox-options-stored-shifted", "sim/chip_mailbox.cpp",
     "std::memcpy(items_.options.data(), data, items_.options.size());",
     "std::memcpy(items_.options.data() + 1, data, items_.options.size() - 1);"),
    ("simx-refused-exit-key-leaves-isp", "sim/virtual_chip.cpp",
     "      if (!Is(setup, kOut, kIspExitValue, kIspExitIndex) || length != 0) return false;\n"
     "      isp_mode_ = false;",
     "      isp_mode_ = false;\n"
     "      if (!Is(setup, kOut, kIspExitValue, kIspExitIndex) || length != 0) return false;"),
    ("simx-protect-levels-grow-linearly", "sim/spi_flash_model.cpp",
     "std::min<std::uint64_t>(Size(), unit << (level - 1))",
     "std::min<std::uint64_t>(Size(), unit * level)"),
    # isp tests, trimmed: what the merged and dropped assertions guarded.
    ("auto-clear-status-skipped", "src/isp/auto_sequence.cpp",
     "  status = WriteStatusAndWait(link, 0x00);\n  return status && (*status & kAllBlockProtectBits) == 0;",
     "  status = 0;\n  return true;"),
    ("isp-auto-click-does-not-stop", "src/isp/isp_auto_handler.cpp",
     "    isp_progress_->RequestStop();\n    return;", "    return;"),
    ("program-idle-wait-one-read-short", "src/isp/flash_range_ops.cpp",
     "read < kBusyReadsBeforePage;", "read < kBusyReadsBeforePage - 1;"),
    ("isp-part-state-stays-in-isp", "src/isp/preflight.h", "  if (isp_mode) IspExit(link);\n", ""),
]


class Planted:
    """Replaces the text while inside the block and always puts the original bytes back."""

    def __init__(self, path, old, new):
        self.path, self.old, self.new = path, old, new
        self.original = None

    def __enter__(self):
        original = self.path.read_bytes()
        text = original.decode()
        if text.count(self.old) != 1:
            return False
        self.original = original
        self.path.write_text(text.replace(self.old, self.new))
        return True

    def __exit__(self, *exc):
        if self.original is not None:
            self.path.write_bytes(self.original)
            # A restored file older than the last build would not be rebuilt.
            os.utime(self.path)
        return False


def run(command, log):
    return subprocess.run(command, cwd=ROOT, stdout=log, stderr=subprocess.STDOUT).returncode


def try_fault(fault, build, ctest_regex, log):
    name, file, old, new = fault
    with Planted(ROOT / file, old, new) as applied:
        if not applied:
            return "did not apply"
        log.write(f"=== {name}\n".encode())
        log.flush()
        if run(["cmake", "--build", build], log) != 0:
            return "build failed"
        ctest = ["ctest", "--test-dir", build, "-j2", "--stop-on-failure", "--timeout", "120"]
        if ctest_regex:
            ctest += ["-R", ctest_regex]
        return "NOT caught" if run(ctest, log) == 0 else "caught"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build directory (default: build)")
    parser.add_argument("--filter", default="", help="only faults whose name holds this text")
    parser.add_argument("--list", action="store_true", help="list the faults and stop")
    parser.add_argument("--ctest-regex", default="", help="run only the tests ctest -R selects")
    parser.add_argument("--shard", default="1/1", help="K/N: every Nth fault from the Kth")
    args = parser.parse_args()

    shard, shards = (int(n) for n in args.shard.split("/"))
    faults = [f for f in FAULTS if args.filter in f[0]]
    faults = sorted(faults, key=lambda f: f[1].endswith(".h"))[shard - 1::shards]
    if args.list:
        for name, file, _, _ in faults:
            print(f"{name:45} {file}")
        return 0
    build = str(pathlib.Path(args.build).resolve())
    log_path = pathlib.Path(build) / "plant_faults.log"
    # Ctrl-C and SIGTERM unwind through the Planted block, which restores the file.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    counts = {}
    with open(log_path, "wb") as log:
        for fault in faults:
            started = time.monotonic()
            verdict = try_fault(fault, build, args.ctest_regex, log)
            counts[verdict] = counts.get(verdict, 0) + 1
            print(f"{verdict:16} {fault[0]}  ({time.monotonic() - started:.0f} s)", flush=True)
    # The tree as it was: rebuild so the build directory matches the restored sources.
    subprocess.run(["cmake", "--build", build], cwd=ROOT, stdout=subprocess.DEVNULL)
    caught = counts.get("caught", 0)
    missed = counts.get("NOT caught", 0)
    unapplied = counts.get("did not apply", 0)
    broken = counts.get("build failed", 0)
    print(f"plant_faults: {caught} caught, {missed} NOT caught, {unapplied} did not apply, "
          f"{broken} build failed, of {len(faults)} (log: {log_path})")
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("plant_faults: interrupted; the planted file was restored", file=sys.stderr)
        sys.exit(130)
