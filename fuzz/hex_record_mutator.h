// HEX-aware mutations for the loader fuzzer. Blind byte mutations nearly always break a record's
// byte count or checksum, and the loader stops at that check; these keep inputs well-formed often
// enough that the search reaches record types, bases, addresses and the image's edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

namespace velmora::fuzz {

// Sets the byte count and the checksum of every record (a ':' followed by an even run of at least
// ten hexadecimal digits) to agree with the record's digits. Other text is left as it is.
void RepairRecords(std::uint8_t* data, std::size_t size);

// Inserts one well-formed record line at the start of a line of `data`. Type, address, base value
// and byte count come mostly from the values where a loader's arithmetic changes (0, 1, 2, 16, 255,
// 0x8000, 0xFFFF ...). Returns the new size; the input is unchanged when the line does not fit in
// `max_size`.
std::size_t InsertRecordLine(std::uint8_t* data, std::size_t size, std::size_t max_size,
                             std::minstd_rand& random);

}  // namespace velmora::fuzz
