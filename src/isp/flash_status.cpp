#include "flash_status.h"

namespace velmora {
namespace {

constexpr int kReadyPolls = 10;  // as many as FlashReadStatus gives the bridge
constexpr unsigned kStatusPollPauseMs = 10;

}  // namespace

std::optional<std::uint8_t> ReadStatusChecked(ChipLink& link) {
  if (!SpiReadCommand(link, opcode::kReadStatus, 1)) return std::nullopt;
  for (int poll = 0; poll < kReadyPolls; ++poll) {
    if (!SpiReady(link)) continue;
    std::uint8_t status = 0xFF;
    if (!SpiReadData(link, 1, &status)) return std::nullopt;
    return status;
  }
  return std::nullopt;
}

std::uint8_t StatusForWait(ChipLink& link) {
  return ReadStatusChecked(link).value_or(0xFF);
}

std::optional<std::uint8_t> WaitUntilIdle(ChipLink& link, int polls) {
  for (int poll = 0; poll < polls; ++poll) {
    const std::uint8_t status = StatusForWait(link);
    if (!IsBusy(status)) return status;
    link.sleeper.SleepMs(kStatusPollPauseMs);
  }
  return std::nullopt;
}

bool WaitWhileBusy(ChipLink& link) {
  return WaitUntilIdle(link).has_value();
}

std::optional<std::uint8_t> WriteStatusAndWait(ChipLink& link, std::uint8_t value) {
  const bool sent = FlashWriteEnable(link) && FlashWriteStatus(link, value);
  const std::optional<std::uint8_t> idle = WaitUntilIdle(link);
  return sent ? idle : std::nullopt;
}

}  // namespace velmora
