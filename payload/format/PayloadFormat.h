// The record layout of the payload container, as docs/payload-format.md documents it. The one
// description that the packer (payload/host/qor_pack.cpp, built for the build machine), the setup's
// reader (setup/Payload.cpp) and the tests share: plain C++ with no Windows or zlib dependency.
//
// A record: Lead (1 byte, 0) | NameLength n (LE u16) | Name (n UTF-16LE code units) | Size (LE u32) |
// CompressedSize C (LE u32) | C bytes of zlib stream. No container header or trailer.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qor::payload_format {

inline constexpr unsigned char kLead = 0;

// Field sizes in bytes, in record order.
inline constexpr size_t kLeadBytes = 1;
inline constexpr size_t kNameLengthBytes = 2;
inline constexpr size_t kNameUnitBytes = 2;
inline constexpr size_t kSizeBytes = 4;
inline constexpr size_t kCompressedSizeBytes = 4;

// The largest values the fields can hold.
inline constexpr size_t kMaxNameUnits = 0xFFFF;
inline constexpr uint64_t kMaxFileBytes = 0xFFFFFFFF;

// Offsets from the start of a record whose name has nameUnits code units.
inline constexpr size_t kNameLengthOffset = kLeadBytes;
inline constexpr size_t kNameOffset = kNameLengthOffset + kNameLengthBytes;
constexpr size_t SizeOffset(size_t nameUnits) { return kNameOffset + kNameUnitBytes * nameUnits; }
constexpr size_t CompressedSizeOffset(size_t nameUnits) { return SizeOffset(nameUnits) + kSizeBytes; }
// The header's length; the zlib stream starts here and the next record CompressedSize bytes later.
constexpr size_t HeaderSize(size_t nameUnits) { return CompressedSizeOffset(nameUnits) + kCompressedSizeBytes; }
static_assert(HeaderSize(0) == 11 && HeaderSize(11) == 33, "11 + 2n bytes, as documented");

// The unsigned little-endian value of bytes [p, p + count), count at most 4.
template <class Byte>
constexpr uint32_t ReadLittleEndian(const Byte* p, size_t count) {
  uint32_t value = 0;
  for (size_t i = count; i > 0; --i) value = (value << 8) | static_cast<unsigned char>(p[i - 1]);
  return value;
}

// Appends the low count bytes of value, least significant first, to a container of char-sized bytes.
template <class Out>
void AppendLittleEndian(Out& out, uint32_t value, size_t count) {
  for (size_t i = 0; i < count; ++i) out.push_back(static_cast<typename Out::value_type>((value >> (8 * i)) & 0xFF));
}

// Appends a record header: name is any range of 16-bit code units (at most kMaxNameUnits of them;
// the caller checks). The zlib stream of compressedSize bytes is to follow.
template <class Out, class Name>
void AppendRecordHeader(Out& out, const Name& name, uint32_t size, uint32_t compressedSize) {
  AppendLittleEndian(out, kLead, kLeadBytes);
  AppendLittleEndian(out, static_cast<uint32_t>(name.size()), kNameLengthBytes);
  for (auto unit : name) AppendLittleEndian(out, static_cast<uint16_t>(unit), kNameUnitBytes);
  AppendLittleEndian(out, size, kSizeBytes);
  AppendLittleEndian(out, compressedSize, kCompressedSizeBytes);
}

}  // namespace qor::payload_format
