// What a front end may learn about the part before anything is written to it: the identifier and
// the status register, read in one ISP session that writes nothing. And the refusals a
// command-line run makes from them before it erases anything: the window's Auto finds these only
// once it has entered ISP mode, and still writes the protect afterwards.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "auto_sequence.h"
#include "chip_commands.h"
#include "flash_geometry.h"
#include "program_image.h"

namespace velmora {

// Runs `body` with the link open and, when `isp_mode`, the chip in ISP mode, then leaves ISP mode
// and closes the link. The body may close the link itself (the read-back does): it is opened
// again for the exit. Returns what the body returns.
template <typename Body>
auto InIspSession(ChipLink& link, bool isp_mode, Body body) {
  link.usb.Open();
  if (isp_mode) IspEnter(link);
  auto result = body();
  link.usb.Open();
  if (isp_mode) IspExit(link);
  link.usb.Close();
  return result;
}

struct PartState {
  bool id_read = false;                // FlashReadId was answered
  ChipIdBytes id{};                    // all zero when it was not
  std::optional<std::uint8_t> status;  // the status register, when the read was answered
  bool stayed_busy = false;            // the part read busy through the whole wait
};

// One ISP session (InIspSession) that reads the identifier and the status register, after
// waiting (WaitWhileBusy) for a part that reads busy to finish.
PartState ReadPartState(ChipLink& link, bool isp_mode);

// FF FF FF: nothing drives the bus. 00 00 00: a bridge with no part behind it answers zeros.
bool NoFlashAnswers(const ChipIdBytes& id);

// The identifier as the datasheets write it: "C2 20 13".
std::string ChipIdText(const ChipIdBytes& id);

// Why an Auto run over `image` must not start on the part with identifier `id`, or nothing:
// "No flash answers: JEDEC id FF FF FF", or the image extent (or, with the erase under Assign
// Range, the erase range) reaching past the capacity the identifier gives:
// "Range beyond flash address 0x07FFFF (C2 20 13 holds 512 KiB)".
std::optional<std::string> PreflightRefusal(const ChipIdBytes& id, const AutoSteps& steps,
                                            const FlashRange& range, const ProgramImage& image);

}  // namespace velmora
