// The flash engine: erase, status writes, the chunked range passes (blank check, program,
// verify), the read-back, and the single-button runs built from them. Plain C++: the window's
// handlers call these and only read controls before and write labels after.
//
// Every operation reports through the FlashProgress it is given and pauses through the link's
// sleeper. Results are bools; nothing throws. A stop asked for through FlashProgress ends a pass
// at the next chunk, page or poll boundary with "Stopped by user" and a false result.
#pragma once

#include <cstdint>
#include <span>

#include "chip_commands.h"
#include "flash_geometry.h"
#include "flash_progress.h"
#include "program_image.h"

namespace velmora {

// The device link the operations talk through and the front end they report to.
struct FlashContext {
  ChipLink& link;
  FlashProgress& progress;
};

// ---- Status register and erase ----

// Write enable, write status, then up to 1000 status reads 10 ms apart until bit 0 (busy) is
// clear. The link must be open. A wait that runs out is not reported (the status write of the
// sequence is never examined).
void WriteStatusAndWait(ChipLink& link, std::uint8_t value);

// Reads the status up to 1000 times, 10 ms apart, until bit 0 is clear. True when it cleared.
bool WaitWhileBusy(ChipLink& link);

// The erase button: opens the link, erases, closes it. Under All a chip erase, under
// AssignRange one sector erase per 4096 bytes from range_start while below range_start +
// range_size; each erase is polled up to 1000 times with the progress labels and a pump per
// poll. False when any erase stayed busy through its polls ("Erase Flash Fail"), when stopped
// ("Stopped by user"), or when the sectors reach past the 24-bit address space (nothing sent).
// A successful erase shows no text of its own.
bool EraseFlash(FlashContext& ctx, const FlashRange& range);

// ---- Range passes (the link must be open; addresses are flash addresses, end exclusive) ----

// True when every flash byte in [start, end) reads 0xFF. Reads 64-byte chunks, three attempts
// per chunk; shows "Blanking Addr: 0x..." per chunk read and "Blanking Fail at 0x..." on failure.
bool BlankCheckRange(FlashContext& ctx, std::uint32_t start, std::uint32_t end);

// True when every flash byte in [start, end) equals image byte (address - image_base). Same
// scheme as the blank check with "Verifying Addr: 0x" / "Verifying Fail at 0x".
bool VerifyRange(FlashContext& ctx, const ProgramImage& image, std::uint32_t image_base,
                 std::uint32_t start, std::uint32_t end);

// Writes the image into [start, end) page by page (page_size 32 or 256). Pages of all 0xFF are
// skipped; the last page is sent whole with the image's 0xFF fill. Before each page the flash
// must turn idle within 101 status reads. False when it did not (the page address stays on the
// address label), when stopped, or for a page size outside 1..256.
bool ProgramRange(FlashContext& ctx, const ProgramImage& image, std::uint32_t image_base,
                  std::uint16_t page_size, std::uint32_t start, std::uint32_t end);

// ---- Single buttons of the function-test group ----

enum class RangeOperation { BlankCheck, Program, Verify };

// One of the blank-check, program and verify buttons: start text, open, the pass over the
// image's extent (All: 0 .. length; AssignRange: range_start .. range_start + length), success
// text, close. Programming uses the page size of `chip_id`, the identifier last read.
bool RunRangeOperation(FlashContext& ctx, RangeOperation operation, const ProgramImage& image,
                       const FlashRange& range, const ChipIdBytes& chip_id);

// ---- Read-back ----

// Fills buffer[start, end) with 0x5A, then reads each 64-byte chunk twice and compares the
// reads; a chunk that differs or cannot be read three times in a row ends the pass with
// "Verifying Fail at 0x...". Each consistent chunk's bytes below `end` land in the buffer. True
// when every chunk was read consistently. False with nothing sent when the buffer is too small.
bool ReadBackRange(FlashContext& ctx, std::uint32_t start, std::uint32_t end,
                   std::span<std::uint8_t> buffer);

// The read-back button up to the save dialog: "Read Flash data back", open, the first 128 KiB
// into `buffer`, "Read Flash content Success" when consistent, close. The window then offers the
// first kReadBackEnd bytes of the buffer for saving, whatever the result.
bool ReadFlashBack(FlashContext& ctx, std::span<std::uint8_t> buffer);

}  // namespace velmora
