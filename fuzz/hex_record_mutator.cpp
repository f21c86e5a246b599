#include "hex_record_mutator.h"

#include <cstring>
#include <string>
#include <vector>

namespace velmora::fuzz {
namespace {

int HexValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void PutHexByte(std::uint8_t* at, unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  at[0] = static_cast<std::uint8_t>(kDigits[(value >> 4) & 0xF]);
  at[1] = static_cast<std::uint8_t>(kDigits[value & 0xF]);
}

template <typename T, std::size_t N>
T Pick(const T (&choices)[N], std::minstd_rand& random) {
  return choices[random() % N];
}

// A 16-bit value: half the time one where address arithmetic changes, else any.
std::uint16_t Word(std::minstd_rand& random) {
  static const std::uint16_t kEdges[] = {0x0000, 0x0001, 0x0003, 0x0004, 0x0FFF, 0x1000,
                                         0x7FFF, 0x8000, 0xFFF0, 0xFFFE, 0xFFFF};
  return random() % 2 == 0 ? Pick(kEdges, random) : static_cast<std::uint16_t>(random());
}

std::vector<std::uint8_t> RandomRecord(std::minstd_rand& random) {
  static const std::uint8_t kTypes[] = {0x00, 0x00, 0x00, 0x01, 0x02, 0x03,
                                        0x04, 0x04, 0x05, 0x06, 0xFF};
  static const std::uint8_t kDataCounts[] = {0, 1, 2, 15, 16, 32, 255};
  const std::uint8_t type = Pick(kTypes, random);
  const std::uint16_t address = Word(random);
  std::vector<std::uint8_t> payload;
  if (type == 0x02 || type == 0x04) {
    const std::uint16_t base = Word(random);
    payload = {static_cast<std::uint8_t>(base >> 8), static_cast<std::uint8_t>(base)};
    if (random() % 8 == 0) payload.resize(random() % 5);  // a wrong length now and then
  } else if (type == 0x01) {
    payload.resize(random() % 8 == 0 ? 1 : 0);
  } else {
    const std::size_t count = (type == 0x03 || type == 0x05) ? 4 : Pick(kDataCounts, random);
    payload.resize(random() % 4 == 0 ? random() % 256 : count);
    for (std::uint8_t& b : payload) b = static_cast<std::uint8_t>(random());
  }
  std::vector<std::uint8_t> record = {static_cast<std::uint8_t>(payload.size()),
                                      static_cast<std::uint8_t>(address >> 8),
                                      static_cast<std::uint8_t>(address), type};
  record.insert(record.end(), payload.begin(), payload.end());
  unsigned sum = 0;
  for (std::uint8_t b : record) sum += b;
  record.push_back(static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
  return record;
}

}  // namespace

void RepairRecords(std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  while (at < size) {
    if (data[at] != ':') {
      ++at;
      continue;
    }
    std::uint8_t* record = data + at + 1;
    std::size_t digits = 0;
    while (at + 1 + digits < size && HexValue(record[digits]) >= 0) ++digits;
    at += 1 + digits;
    if (digits < 10 || digits % 2 != 0 || (digits - 10) / 2 > 255) continue;
    PutHexByte(record, static_cast<unsigned>((digits - 10) / 2));
    unsigned sum = 0;
    for (std::size_t i = 0; i + 2 < digits; i += 2) {
      sum += static_cast<unsigned>(HexValue(record[i]) << 4 | HexValue(record[i + 1]));
    }
    PutHexByte(record + digits - 2, (0x100 - (sum & 0xFF)) & 0xFF);
  }
}

std::size_t InsertRecordLine(std::uint8_t* data, std::size_t size, std::size_t max_size,
                             std::minstd_rand& random) {
  const std::vector<std::uint8_t> record = RandomRecord(random);
  std::string line = ":";
  for (std::uint8_t b : record) {
    std::uint8_t digits[2];
    PutHexByte(digits, b);
    line.append(reinterpret_cast<const char*>(digits), 2);
  }
  line += random() % 2 == 0 ? "\r\n" : "\n";
  if (line.size() > max_size - std::min(size, max_size)) return size;

  std::size_t at = size == 0 ? 0 : random() % (size + 1);
  while (at > 0 && data[at - 1] != '\n' && data[at - 1] != '\r') --at;
  std::memmove(data + at + line.size(), data + at, size - at);
  std::memcpy(data + at, line.data(), line.size());
  return size + line.size();
}

}  // namespace velmora::fuzz
