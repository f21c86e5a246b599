#include "wire_formats.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace velmora::wire {
namespace {

void Put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, static_cast<std::uint16_t>(value));
  Put16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

GenericRecord EncodeGenericRecord(const ControlSetup& setup, std::uint16_t length_word) {
  GenericRecord record{};
  record[4] = setup.request_type;
  record[5] = setup.request;
  Put16(&record[6], setup.value);
  Put16(&record[8], setup.index);
  Put16(&record[10], length_word);
  return record;
}

void PutKsProperty(std::uint8_t* at, std::uint32_t id, std::uint32_t flags) {
  std::memcpy(at, kControlPropertySet.data(), kControlPropertySet.size());
  Put32(at + 16, id);
  Put32(at + 20, flags);
}

// The audio driver wants 0x20 in its setup block's first byte whatever the transfer's
// bmRequestType; the direction travels in the KSPROPERTY flags instead.
constexpr std::uint8_t kPropertySetupRequestType = 0x20;
// Zeros after the copied data: seven, or eight when there is no data.
constexpr std::uint32_t kPropertyTrailer = 7;

}  // namespace

const Guid& InterfaceClass(Backend backend) {
  return backend == Backend::Property ? kPropertyInterfaceClass : kGenericInterfaceClass;
}

GenericRecord EncodeTransferRecord(const ControlSetup& setup) {
  return EncodeGenericRecord(setup, 0);
}

GenericRecord EncodeDescriptorProbeRecord() {
  // Standard GET_DESCRIPTOR (device-to-host, request 6), descriptor type 1 (device) in wValue's
  // high byte.
  const ControlSetup get_device_descriptor{0x80, 0x06, 0x0100, 0x0001};
  return EncodeGenericRecord(get_device_descriptor, kDescriptorProbeLength);
}

KsProperty EncodeSetSupportProbe() {
  KsProperty probe{};
  PutKsProperty(probe.data(), 0, kKsPropertyTypeSetSupport);
  return probe;
}

std::optional<std::uint32_t> PropertyRequestSize(std::uint32_t length) {
  const std::uint64_t size = length == 0
                                 ? kPropertyDataOffset + kPropertyTrailer + 1
                                 : std::uint64_t{length} + kPropertyDataOffset + kPropertyTrailer;
  if (size > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(size);
}

bool WritePropertyRequest(std::span<std::uint8_t> out, const ControlSetup& setup,
                          const std::uint8_t* data, std::uint32_t length) {
  const std::optional<std::uint32_t> size = PropertyRequestSize(length);
  if (!size || out.size() != *size) return false;
  if (data == nullptr && length != 0) return false;

  std::fill(out.begin(), out.end(), std::uint8_t{0});
  std::uint8_t* request = out.data();
  PutKsProperty(request, kControlTransferPropertyId,
                setup.DeviceToHost() ? kKsPropertyTypeGet : kKsPropertyTypeSet);
  request[24] = kPropertySetupRequestType;
  request[25] = setup.request;
  Put16(request + 26, setup.value);
  Put16(request + 28, setup.index);
  Put32(request + 36, length);
  if (length != 0) std::memcpy(request + kPropertyDataOffset, data, length);
  return true;
}

}  // namespace velmora::wire
