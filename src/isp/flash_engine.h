// The flash engine: erase, status writes, the chunked range passes (blank check, program,
// verify), the read-back, and the single-button runs built from them. Plain C++: the window's
// handlers call these and only read controls before and write labels after.
//
// Every operation reports through the FlashProgress it is given and pauses through the link's
// sleeper. Results are bools; nothing throws. A stop asked for through FlashProgress ends a pass
// at the next chunk, page or poll boundary with "Stopped by user" and a false result.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chip_commands.h"
#include "flash_geometry.h"
#include "flash_progress.h"
#include "flash_status.h"
#include "program_image.h"

namespace velmora {

// The device link the operations talk through and the front end they report to.
struct FlashContext {
  ChipLink& link;
  FlashProgress& progress;
};

// ---- Erase (the status reads and waits are in flash_status.h) ----

// Why a sector erase over `range` must not start, or nothing (always nothing under All): its
// sectors reach past the 24-bit address space or past the capacity that `chip_id` gives
// ("Range beyond flash address 0x..." with the last address), or its start or size is not a
// multiple of 4 KiB, so whole sectors would erase flash outside it.
std::optional<std::string> SectorEraseRefusal(const FlashRange& range, const ChipIdBytes& chip_id);

// The erase button: opens the link, erases, closes it. Under All a chip erase polled up to
// ChipErasePolls(chip_id) times; under AssignRange one sector erase per 4096 bytes from
// range_start while below range_start + range_size, each polled up to 1000 times. Each poll
// shows the progress labels and pumps once; a status read that failed counts as busy. Before
// each erase the part must read idle. False, with "Erase Flash Fail", when the part stayed busy
// or a write-enable or erase request failed (a failed sector ends the erase there); with
// "Stopped by user" when stopped; with the refusal's text, nothing sent, when
// SectorEraseRefusal refuses the range. A successful erase shows no text of its own.
bool EraseFlash(FlashContext& ctx, const FlashRange& range, const ChipIdBytes& chip_id);

// The sector erase of EraseFlash over the 4 KiB sectors at `sectors` only, in their order.
// Same texts and failures; nothing is sent for an empty list.
bool EraseSectorList(FlashContext& ctx, std::span<const std::uint32_t> sectors);

// ---- Range passes (the link must be open; addresses are flash addresses, end exclusive) ----

// True when every flash byte in [start, end) reads 0xFF. Reads chunks of `chunk_size` bytes
// (64 as the window reads; up to kLongReadSize), three attempts per chunk; shows
// "Blanking Addr: 0x..." per chunk read and "Blanking Fail at 0x..." on failure. False with
// nothing sent for a chunk size outside 1..255.
bool BlankCheckRange(FlashContext& ctx, std::uint32_t start, std::uint32_t end,
                     std::uint32_t chunk_size = kReadChunkSize);

// True when every flash byte in [start, end) equals image byte (address - image_base). Same
// scheme as the blank check with "Verifying Addr: 0x" / "Verifying Fail at 0x".
bool VerifyRange(FlashContext& ctx, const ProgramImage& image, std::uint32_t image_base,
                 std::uint32_t start, std::uint32_t end, std::uint32_t chunk_size = kReadChunkSize);

// How a programming pass makes sure the part has finished one page before the next.
enum class PagePace {
  // The window's: before each page up to 101 status reads, 1 ms after each busy one; after it
  // up to 10 ready polls (0x83), 1 ms before each.
  Design,
  // The fewest requests: the part must read idle once before the first page; after each page
  // a pause of the typical page time (1 ms), then status reads, 1 ms after each busy one, until
  // it reads idle (one read when the page took its typical time; up to 101).
  Confirmed,
};

// Writes the image into [start, end) page by page (page_size 32 or 256). Pages of all 0xFF are
// skipped; the last page is sent whole with the image's 0xFF fill. The part must read idle
// within 101 status reads (a failed read counts as busy) before each page (Design) or before
// the first and after each page (Confirmed). False with "Programming Fail at 0x" and the page
// address when it did not or when the page's write enable or program request failed; false
// when stopped or for a page size outside 1..256.
bool ProgramRange(FlashContext& ctx, const ProgramImage& image, std::uint32_t image_base,
                  std::uint16_t page_size, std::uint32_t start, std::uint32_t end,
                  PagePace pace = PagePace::Design);

// Reads the whole 4 KiB sectors [start, end) in reads of up to 255 bytes and returns the
// addresses, in order, of those holding a byte that differs from image byte
// (address - image_base), or from 0xFF past the image. Once a byte differs, the rest of its
// sector is not read. Shows "Comparing Addr: 0x..." per read. Nothing, with "Comparing Fail at
// 0x..." and the chunk's address, when a chunk cannot be read three times in a row; nothing
// when stopped, or for a start or end off the 4 KiB grid.
std::optional<std::vector<std::uint32_t>> FindChangedSectors(FlashContext& ctx,
                                                             const ProgramImage& image,
                                                             std::uint32_t image_base,
                                                             std::uint32_t start,
                                                             std::uint32_t end);

// ---- Single buttons of the function-test group ----

enum class RangeOperation { BlankCheck, Program, Verify };

// One of the blank-check, program and verify buttons: start text, open, the pass over the
// image's extent (All: 0 .. length; AssignRange: range_start .. range_start + length), success
// text, close. Programming uses the page size of `chip_id`, the identifier last read. An extent
// past the capacity that `chip_id` gives (or past 24 bits) is refused before the link is opened,
// with "Range beyond flash address 0x" and the last address.
bool RunRangeOperation(FlashContext& ctx, RangeOperation operation, const ProgramImage& image,
                       const FlashRange& range, const ChipIdBytes& chip_id);

// ---- Read-back ----

// Fills buffer[start, end) with 0x5A, then reads each 64-byte chunk twice and compares the
// reads; a chunk that differs or cannot be read three times in a row ends the pass with
// "Verifying Fail at 0x...". Each consistent chunk's bytes below `end` land in the buffer. True
// when every chunk was read consistently. False with nothing sent when the buffer is too small.
bool ReadBackRange(FlashContext& ctx, std::uint32_t start, std::uint32_t end,
                   std::span<std::uint8_t> buffer);

// Whether the part can be read back (the link must be open): its identifier answers (FF FF FF,
// 00 00 00 or no answer: false with "No flash answers: JEDEC id ...") and it turns idle within a
// chip erase's time (else false with "Flash is busy"). A busy part ignores the identifier command
// too: a busy status read tells it from an empty socket.
bool FlashPartReadable(FlashContext& ctx);

// The read-back button up to the save dialog: "Read Flash data back", open, FlashPartReadable,
// the first 128 KiB into `buffer` (0x5A where nothing was read), "Read Flash content Success" when
// consistent, close. The window then offers the
// first kReadBackEnd bytes of the buffer for saving, whatever the result.
bool ReadFlashBack(FlashContext& ctx, std::span<std::uint8_t> buffer);

}  // namespace velmora
