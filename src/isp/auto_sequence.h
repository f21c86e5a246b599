// The automatic ISP sequence behind the "Auto" button, from "Enter ISP Mode" to leaving ISP
// mode. The window keeps what needs the window: the found and file checks, the reload of the
// program file, the conversion of the range edits, the caption, AutoBusy and message boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// How a run goes about its passes. The window always runs Design; the command line and the
// production station may choose another.
enum class AutoProfile {
  Design,  // the window's: 64-byte reads, a status read before and a ready poll after each page
  // The fewest transfers for the same job: verify reads of 255 bytes; no separate blank check
  // while verify runs (verify proves every byte of the image, and a byte programmed over
  // unerased data cannot pass it); per page a pause of the typical page time and the status
  // read that finds the page done, before the next write enable.
  Fast,
  // Reads the image's 4 KiB sectors (255-byte reads), erases and programs, as Fast, only those
  // that differ from the image (0xFF past its end), then verifies the whole image. A sector that
  // reads the same is never erased, and flash outside the image's sectors is left as it is,
  // under All too. Needs erase, program and verify ticked; drops the blank check.
  ChangedOnly,
};

// "design", "fast", "changed-only": the profile's name on command lines and in reports.
const char* AutoProfileName(AutoProfile profile);

// The steps a run under `profile` makes of those ticked: Fast drops the blank check while the
// verify is ticked.
AutoSteps StepsFor(AutoProfile profile, const AutoSteps& ticked);

struct AutoOutcome {
  // A step failed, the run was refused or stopped, or the protect or the ISP exit did not take.
  bool step_failed = false;
  bool stopped = false;                      // the run was cut short by a stop request
  std::uint16_t page_size = kLargePageSize;  // chosen from the identifier read by this run
  // The status register as the run last read it back after writing it: after the protect when
  // that ran, else after the clear before the erase; nothing when neither ran or was confirmed.
  std::optional<std::uint8_t> last_status;
  // ChangedOnly: the image's sectors that were compared, and those found to differ (erased and
  // programmed unless a step failed).
  std::uint32_t sectors_compared = 0;
  std::vector<std::uint32_t> sectors_changed;
};

// The steps of a run in the order they go (but Compare), for front ends that time them or draw one
// progress bar per step. The window shows the process label instead and needs none of this.
enum class AutoStep {
  EnterIsp,  // IspEnter (ISP Mode)
  ReadId,    // FlashReadId, whose bytes choose the page size
  ClearStatus,
  Erase,
  BlankCheck,
  Program,
  Verify,
  Protect,
  ExitIsp,  // IspExit (ISP Mode)
  // ChangedOnly: which of the image's sectors differ; runs after ReadId (last here so that the
  // values above stay as they were).
  Compare,
};

// Told about each step that runs: started, then ended once. A step that does not run (unticked,
// or skipped after a failure or a stop) is not told about.
class AutoStepObserver {
 public:
  virtual ~AutoStepObserver() = default;
  virtual void StepStarted(AutoStep step) = 0;
  // `ok`: the step did its job. For EnterIsp and ReadId it is whether the request was answered;
  // the run does not examine those two (an unread identifier shows in the later steps).
  virtual void StepEnded(AutoStep step, bool ok) = 0;
};

// Why a run must not touch the device at all, or nothing: an empty image ("Program File is
// empty !!": the run would erase the chip and report success), a range reaching past the 24-bit
// address space, or, with Erase under AssignRange, a start or size that is not a multiple of
// 4 KiB, or an image longer than the range's size it erases ("Image longer than the range: ...");
// under ChangedOnly, erase, program or verify unticked. The window shows the empty image in a
// "Dialog" box before it calls the run.
std::optional<std::string> AutoRefusal(const AutoSteps& steps, const FlashRange& range,
                                       const ProgramImage& image,
                                       AutoProfile profile = AutoProfile::Design);

// Runs one pass: "Enter ISP Mode" and a pump; open; IspEnter (ISP Mode); FlashReadId into
// `chip_id` (kept on failure) and the page size from it; one status read and, when it reads
// busy, a wait (bounded by the chip-erase budget) for the part to be idle, else "Flash is busy"
// and nothing is written; with Erase "Clear Status register",
// one status read, status 0x00 (whose block-protect bits must read back clear, else "Clear
// Status register Fail"), then the erase (which opens and closes the link itself); open;
// blank check, program and verify over the image's extent, each only while no step failed;
// status 0xFF (Flash Protect) and IspExit (ISP Mode) even after a failed step; close.
//
// Refused runs (AutoRefusal) send nothing and leave the refusal on the process label. Once the
// identifier is read, an image extent or erase range past the capacity it gives is refused with
// "Range beyond flash address 0x" and the part's last address: nothing is erased or programmed,
// protect and the ISP exit still run.
//
// After any failed step, the protect first waits (bounded by the chip-erase budget) for the part
// to finish what it was doing, since a busy part ignores the status write. The protect must read
// back with every block-protect bit set, else "Flash Protect Fail"; an ISP exit whose request
// failed is "Exit ISP Mode Fail". Both end the run as failed; the label keeps the text of the
// first failure.
//
// A stop request (seen at the next chunk, page or poll) ends the step that runs like a failure,
// leaving "Stopped by user".
//
// `observer`, when given, is told when each step starts and ends. `profile` chooses how the
// passes go (the texts, refusals, stop, protect and ISP exit are the same for every profile).
AutoOutcome RunAutoSequence(FlashContext& ctx, const AutoSteps& ticked, const FlashRange& range,
                            const ProgramImage& image, ChipIdBytes& chip_id,
                            AutoStepObserver* observer = nullptr,
                            AutoProfile profile = AutoProfile::Design);

}  // namespace velmora
