// The byte layouts the two Windows drivers expect: the generic driver's 24-byte request record and
// its two control codes, the audio driver's kernel-streaming property request, the probes a search
// sends, and the byte images of the interface class and property set GUIDs. Pure functions with no
// Windows headers, so every layout is checked on any host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "usb_platform.h"

namespace velmora::wire {

// A GUID as Windows keeps it in memory: Data1 (4 bytes), Data2 and Data3 (2 bytes each) little-
// endian, then Data4's eight bytes in text order.
using Guid = std::array<std::uint8_t, 16>;

namespace detail {
// Not constexpr on purpose: reaching it while a GUID text is parsed at compile time stops the
// build, so a mistyped GUID constant cannot slip through.
void MalformedGuidText();

consteval std::uint8_t HexNibble(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  MalformedGuidText();
  return 0;
}
}  // namespace detail

// The byte image of a GUID written as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
consteval Guid GuidFromText(std::string_view text) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' ||
      text[19] != '-' || text[24] != '-') {
    detail::MalformedGuidText();
  }
  // Text position (brace included) of each byte's first digit, in memory order: the first three
  // fields are stored little-endian, so their bytes come from the text back to front.
  constexpr std::array<std::size_t, 16> kDigitAt = {7,  5,  3,  1,  12, 10, 17, 15,
                                                    20, 22, 25, 27, 29, 31, 33, 35};
  Guid guid{};
  for (std::size_t i = 0; i < guid.size(); ++i) {
    const std::size_t at = kDigitAt[i];
    guid[i] = static_cast<std::uint8_t>(detail::HexNibble(text[at]) << 4 |
                                        detail::HexNibble(text[at + 1]));
  }
  return guid;
}

// Interface class the generic USB driver registers (the firmware-update loader is reached here).
inline constexpr Guid kGenericInterfaceClass =
    GuidFromText("{A5DCBF10-6530-11D2-901F-00C04FB951ED}");
// Interface class the device's own audio driver registers.
inline constexpr Guid kPropertyInterfaceClass =
    GuidFromText("{50894FA4-9206-4A91-8728-CF6F268F271D}");
// Property set of the audio driver's control-transfer property.
inline constexpr Guid kControlPropertySet = GuidFromText("{F6D7C04D-C5C3-4181-9ED7-504ABE0CDDFF}");

// The interface class searched for a back-end.
const Guid& InterfaceClass(Backend backend);

// A device I/O control code from its parts, as the Windows headers compose it.
constexpr std::uint32_t ControlCode(std::uint32_t device_type, std::uint32_t function,
                                    std::uint32_t method, std::uint32_t access) {
  return device_type << 16 | access << 14 | function << 2 | method;
}

inline constexpr std::uint32_t kFileDeviceUnknown = 0x22;
inline constexpr std::uint32_t kFileDeviceKs = 0x2F;
inline constexpr std::uint32_t kMethodInDirect = 1;
inline constexpr std::uint32_t kMethodOutDirect = 2;
inline constexpr std::uint32_t kMethodNeither = 3;
inline constexpr std::uint32_t kFileAnyAccess = 0;

// Generic driver: a transfer whose answer comes back to the host (0x22242E) ...
inline constexpr std::uint32_t kIoctlControlIn =
    ControlCode(kFileDeviceUnknown, 0x90B, kMethodOutDirect, kFileAnyAccess);
// ... and one whose data goes to the device (0x222429). Either way the data travels as the call's
// output buffer; for the second the driver reads from it.
inline constexpr std::uint32_t kIoctlControlOut =
    ControlCode(kFileDeviceUnknown, 0x90A, kMethodInDirect, kFileAnyAccess);
// Audio driver: every kernel-streaming property request (0x2F0003).
inline constexpr std::uint32_t kIoctlKsProperty =
    ControlCode(kFileDeviceKs, 0x000, kMethodNeither, kFileAnyAccess);

// The generic driver's control code for a transfer in the direction of bit 7 of bmRequestType.
inline std::uint32_t GenericControlCode(const ControlSetup& setup) {
  return setup.DeviceToHost() ? kIoctlControlIn : kIoctlControlOut;
}

// The generic driver's request record: zero, the four setup values, and a length word that stays 0
// for a transfer (the driver takes the size of the output buffer instead).
inline constexpr std::size_t kGenericRecordSize = 24;
using GenericRecord = std::array<std::uint8_t, kGenericRecordSize>;

GenericRecord EncodeTransferRecord(const ControlSetup& setup);

// The search's probe on the generic driver: GET_DESCRIPTOR for the device descriptor, 18 bytes,
// sent with kIoctlControlIn into an 18-byte buffer whose contents nobody reads.
inline constexpr std::uint32_t kDescriptorProbeLength = 18;
GenericRecord EncodeDescriptorProbeRecord();

// A kernel-streaming KSPROPERTY: property set, id, flags.
inline constexpr std::size_t kKsPropertySize = 24;
using KsProperty = std::array<std::uint8_t, kKsPropertySize>;
inline constexpr std::uint32_t kKsPropertyTypeGet = 0x001;
inline constexpr std::uint32_t kKsPropertyTypeSet = 0x002;
inline constexpr std::uint32_t kKsPropertyTypeSetSupport = 0x100;

// The search's probe on the audio driver: does it support the control-transfer property set?
// Sent with kIoctlKsProperty and no output buffer.
KsProperty EncodeSetSupportProbe();

// The audio driver's control-transfer request: a KSPROPERTY for property 7 (GET for an IN
// transfer, SET for an OUT one), the driver's setup block, then a copy of the caller's buffer and
// trailing zeros. `length` + 47 bytes, 48 for a zero-length transfer.
inline constexpr std::uint32_t kControlTransferPropertyId = 7;
inline constexpr std::size_t kPropertyDataOffset = 40;

// Size of the request for a transfer of `length` bytes, or nothing when it would not fit in the
// 32-bit size a driver call takes.
std::optional<std::uint32_t> PropertyRequestSize(std::uint32_t length);

// Writes the whole request (zeros included) into `out`, which must be exactly
// PropertyRequestSize(length) bytes; `data` may be null only when `length` is 0. The caller's
// buffer is copied for both directions: for an IN transfer it carries the buffer's prior contents.
// Returns false, writing nothing, when `out` has another size or `data` is missing.
bool WritePropertyRequest(std::span<std::uint8_t> out, const ControlSetup& setup,
                          const std::uint8_t* data, std::uint32_t length);

}  // namespace velmora::wire
