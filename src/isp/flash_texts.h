// The words the flash operations put on the three progress labels. Every text here is shown to
// the user exactly as written, trailing spaces included.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::texts {

inline constexpr const char* kEnterIspMode = "Enter ISP Mode";
inline constexpr const char* kClearStatus = "Clear Status register";
inline constexpr const char* kEraseAll = "Flash Erase All ";
inline constexpr const char* kSectorErase = "Flash Sector Erase";
inline constexpr const char* kEraseFail = "Erase Flash Fail";
inline constexpr const char* kStartBlank = "Start Blanking Check";
inline constexpr const char* kBlankSuccess = "Blanking Success";
inline constexpr const char* kStartProgramAuto = "Start Programming";
inline constexpr const char* kStartProgramButton = "Start Programming...";
inline constexpr const char* kProgramSuccess = "Programming Success";
inline constexpr const char* kStartVerify = "Start Verifying Check";
inline constexpr const char* kVerifySuccess = "Verifying Success";
inline constexpr const char* kReadBackStart = "Read Flash data back";
inline constexpr const char* kReadBackSuccess = "Read Flash content Success";
inline constexpr const char* kStopped = "Stopped by user";
inline constexpr const char* kClearStatusFail = "Clear Status register Fail";
inline constexpr const char* kFlashBusy = "Flash is busy";
inline constexpr const char* kNoFlash = "No flash answers: JEDEC id ";
inline constexpr const char* kProtectFail = "Flash Protect Fail";
inline constexpr const char* kExitIspFail = "Exit ISP Mode Fail";
inline constexpr const char* kProgramFileEmpty = "Program File is empty !!";
inline constexpr const char* kChangedOnlySteps =
    "Changed sectors only: erase, program and verify must all run";
inline constexpr const char* kStartCompare = "Start Comparing";
inline constexpr const char* kUnalignedRange =
    "Start and size must be multiples of 4 KB to erase in sectors";

inline constexpr const char* kBlankAddr = "Blanking Addr: 0x";
inline constexpr const char* kBlankFail = "Blanking Fail at 0x";
inline constexpr const char* kVerifyAddr = "Verifying Addr: 0x";
inline constexpr const char* kVerifyFail = "Verifying Fail at 0x";
inline constexpr const char* kProgramFail = "Programming Fail at 0x";
inline constexpr const char* kCompareAddr = "Comparing Addr: 0x";
inline constexpr const char* kCompareFail = "Comparing Fail at 0x";

// `value` in upper-case hexadecimal, zero-padded to `digits` (more digits are kept).
std::string Hex(std::uint32_t value, int digits);

// "Flash Erase All " and (poll div 20) mod 10 full stops: a dot creeps on every 20 polls.
std::string EraseAllProgress(int poll);
// "Flash Sector Erase: 0x " and the sector address in 6 digits (a space after the 0x).
std::string SectorEraseProgress(std::uint32_t address);
// "Status Register: 0x" and the byte in 2 digits.
std::string StatusRegister(std::uint8_t status);
// "0x" and the page address in 6 digits.
std::string PageAddress(std::uint32_t address);
// A prefix such as kBlankAddr followed by the address in 6 digits.
std::string WithAddress(const char* prefix, std::uint32_t address);
// "Sectors to rewrite: 1 of 64": what a comparison of the image's sectors found.
std::string SectorsToRewrite(std::size_t changed, std::size_t compared);
// "Range beyond flash address 0x" and the last address of a flash of `flash_size` bytes
// ("0xFFFFFF" for the whole 24-bit address space, "0x07FFFF" for a 512 KiB part).
std::string RangeBeyondFlash(std::uint64_t flash_size);

}  // namespace velmora::texts
