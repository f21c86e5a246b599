#include "preflight.h"

#include "flash_status.h"
#include "flash_texts.h"

namespace velmora {

PartState ReadPartState(ChipLink& link, bool isp_mode) {
  return InIspSession(link, isp_mode, [&] {
    PartState state;
    // A busy part ignores the identifier command and its bus floats like an empty socket's (whose
    // status reads all ones, never busy alone): let it finish first.
    const std::optional<std::uint8_t> first = ReadStatusChecked(link);
    if (first && IsBusy(*first) && *first != 0xFF) state.stayed_busy = !WaitWhileBusy(link);
    state.id_read = FlashReadId(link, state.id);
    state.status = ReadStatusChecked(link);
    return state;
  });
}

bool NoFlashAnswers(const ChipIdBytes& id) {
  return id == ChipIdBytes{0xFF, 0xFF, 0xFF} || id == ChipIdBytes{0x00, 0x00, 0x00};
}

std::string ChipIdText(const ChipIdBytes& id) {
  return texts::Hex(id[0], 2) + " " + texts::Hex(id[1], 2) + " " + texts::Hex(id[2], 2);
}

std::optional<std::string> PreflightRefusal(const ChipIdBytes& id, const AutoSteps& steps,
                                            const FlashRange& range, const ProgramImage& image) {
  if (NoFlashAnswers(id)) return "No flash answers: JEDEC id " + ChipIdText(id);
  const std::uint64_t capacity = FlashCapacityFor(id);
  const bool erases_sectors = steps.erase && range.choice == RangeChoice::AssignRange;
  if (ImageExtent(range, image.length).Within(capacity) &&
      (!erases_sectors || EraseExtent(range).Within(capacity))) {
    return std::nullopt;
  }
  return texts::RangeBeyondFlash(capacity) + " (" + ChipIdText(id) + " holds " +
         std::to_string(capacity / 1024) + " KiB)";
}

}  // namespace velmora
