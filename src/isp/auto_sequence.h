// The automatic ISP sequence behind the "Auto" button, from "Enter ISP Mode" to leaving ISP
// mode. The window keeps what needs the window: the found and file checks, the reload of the
// program file, the conversion of the range edits, the caption, AutoBusy and message boxes.
#pragma once

#include <cstdint>

#include "chip_commands.h"
#include "flash_engine.h"
#include "flash_geometry.h"
#include "flash_progress.h"
#include "program_image.h"

namespace velmora {

// The seven step switches of the ISP tab, in the order they are stored.
struct AutoSteps {
  bool reload_file = true;  // handled by the window before the run
  bool isp_mode = true;     // IspEnter at the start, IspExit at the end
  bool erase = true;        // clear the status register, then erase
  bool blank = true;
  bool program = true;
  bool verify = true;
  bool protect = true;  // write 0xFF to the status register at the end
};

struct AutoOutcome {
  bool step_failed = false;  // erase, blank check, programming or verify failed, or stopped
  bool stopped = false;      // the run was cut short by a stop request
  std::uint16_t page_size = kLargePageSize;  // chosen from the identifier read by this run
};

// Runs one pass: "Enter ISP Mode" and a pump; open; IspEnter (ISP Mode); FlashReadId into
// `chip_id` (kept on failure) and the page size from it; with Erase "Clear Status register",
// one status read, status 0x00, then the erase (which opens and closes the link itself); open;
// blank check, program and verify over the image's extent, each only while no step failed;
// status 0xFF (Flash Protect) and IspExit (ISP Mode) even after a failed step; close.
//
// A stop request (seen at the next chunk, page or poll) ends the step that runs like a failure,
// leaving "Stopped by user"; protect, which then first waits for the flash to finish what it
// was doing, and ISP exit still run. A range reaching past the 24-bit address space is refused
// before anything is sent.
AutoOutcome RunAutoSequence(FlashContext& ctx, const AutoSteps& steps, const FlashRange& range,
                            const ProgramImage& image, ChipIdBytes& chip_id);

}  // namespace velmora
