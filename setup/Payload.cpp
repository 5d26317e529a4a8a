#include "Payload.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "Error.h"
#include "FileSystem.h"
#include "Format.h"
#include "Handles.h"
#include "PathParts.h"
#include "PayloadFormat.h"
#include "TextCompare.h"

namespace qor {
namespace {

// The host server is inflated through a buffer of this size straight into its file.
constexpr size_t kHostChunkSize = 256 * 1024;
// Deflate cannot expand data by more than about 1032 : 1; a Size beyond this bound can never be
// reached by the stream that follows it, so it is refused before anything is allocated or written.
constexpr uint64_t kMaxInflateRatio = 1032;
constexpr uint64_t kInflateSlack = 1024;

[[noreturn]] void RaiseStreamReadError() { throw Error(L"Stream read error"); }
[[noreturn]] void RaiseStreamWriteError() { throw Error(L"Stream write error"); }

// zlib's own name for an error code: "data error", "stream error", "insufficient memory", "buffer error".
// A stream that asks for a preset dictionary is corrupt for our purposes.
[[noreturn]] void RaiseZlibError(int code) {
  if (code == Z_NEED_DICT) code = Z_DATA_ERROR;
  const char* name = zError(code);
  std::wstring text;
  for (const char* p = name; p && *p; ++p) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
  throw Error(text);
}

// zlib allocates through operator new, like the rest of the walk.
voidpf ZAlloc(voidpf, uInt items, uInt size) {
  if (size != 0 && items > SIZE_MAX / size) return Z_NULL;
  return ::operator new(static_cast<size_t>(items) * size, std::nothrow);
}
void ZFree(voidpf, voidpf p) { ::operator delete(p); }

// Front-to-back reader over the container bytes.
class ContainerReader {
 public:
  explicit ContainerReader(std::span<const unsigned char> data) : data_(data) {}
  bool AtEnd() const { return pos_ >= data_.size(); }
  size_t Remaining() const { return data_.size() - pos_; }
  std::span<const unsigned char> Take(size_t n) {
    if (n > Remaining()) RaiseStreamReadError();
    auto part = data_.subspan(pos_, n);
    pos_ += n;
    return part;
  }
  // A little-endian field of the given byte count.
  uint32_t Field(size_t bytes) { return payload_format::ReadLittleEndian(Take(bytes).data(), bytes); }

 private:
  std::span<const unsigned char> data_;
  size_t pos_ = 0;
};

struct RecordHeader {
  std::wstring name;
  uint32_t size = 0;
  std::span<const unsigned char> stream;  // CompressedSize bytes
};

RecordHeader ReadRecordHeader(ContainerReader& reader) {
  RecordHeader r;
  using namespace payload_format;
  reader.Field(kLeadBytes);  // Lead: 0 in every record, not interpreted
  const size_t nameLength = reader.Field(kNameLengthBytes);
  auto nameBytes = reader.Take(kNameUnitBytes * nameLength);
  r.name.resize(nameLength);
  for (size_t i = 0; i < nameLength; ++i)
    r.name[i] = static_cast<wchar_t>(ReadLittleEndian(nameBytes.data() + kNameUnitBytes * i, kNameUnitBytes));
  r.size = reader.Field(kSizeBytes);
  const uint32_t compressedSize = reader.Field(kCompressedSizeBytes);
  r.stream = reader.Take(compressedSize);  // a stream running past the end is a read error
  return r;
}

// Inflates one zlib stream (zlib header, 15-bit window, Adler-32 checked).
class Inflater {
 public:
  explicit Inflater(std::span<const unsigned char> in) {
    z_.zalloc = ZAlloc;
    z_.zfree = ZFree;
    z_.next_in = const_cast<Bytef*>(in.data());
    z_.avail_in = static_cast<uInt>(in.size());  // at most CompressedSize, a 32-bit count
    const int rc = inflateInit(&z_);
    if (rc != Z_OK) RaiseZlibError(rc);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&z_); }

  // Fills out[0, capacity) as far as the stream goes; fewer bytes only when the stream has ended.
  size_t Fill(unsigned char* out, size_t capacity) {
    size_t produced = 0;
    while (produced < capacity && !ended_) {
      const uInt window = static_cast<uInt>(std::min<size_t>(capacity - produced, UINT_MAX));
      z_.next_out = out + produced;
      z_.avail_out = window;
      const int rc = inflate(&z_, Z_NO_FLUSH);
      produced += window - z_.avail_out;
      if (rc == Z_STREAM_END) {
        ended_ = true;
      } else if (rc == Z_BUF_ERROR && z_.avail_in == 0) {
        RaiseStreamReadError();  // the stream stops before its end
      } else if (rc != Z_OK) {
        RaiseZlibError(rc);
      }
    }
    return produced;
  }

  // Inflates `size` bytes, handing them to sink in pieces of at most `bufferSize` bytes placed in buffer
  // (with a buffer of `size` bytes: in one piece). Then inflates the rest of the stream so that its
  // check value is verified; bytes beyond `size` are dropped.
  template <typename Sink>
  void InflateExactly(uint64_t size, unsigned char* buffer, size_t bufferSize, Sink&& sink) {
    uint64_t remaining = size;
    while (remaining > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, bufferSize));
      const size_t got = Fill(buffer, want);
      if (got > 0) sink(buffer, got);
      if (got < want) RaiseStreamReadError();  // the stream yields fewer than Size bytes
      remaining -= got;
    }
    unsigned char scratch[4096];
    while (!ended_) Fill(scratch, sizeof scratch);
  }

 private:
  z_stream z_{};
  bool ended_ = false;
};

void CheckInflatedSize(const RecordHeader& r) {
  if (r.size > r.stream.size() * kMaxInflateRatio + kInflateSlack) RaiseStreamReadError();
}

void CheckName(const std::wstring& name) {
  if (IsSafePayloadName(name)) return;
  std::wstring shown = name;
  for (wchar_t& c : shown)
    if (c < L' ') c = L'?';
  throw Error(FormatText(L"Invalid file name \"%s\" in the setup data", {shown}));
}

// Creates the file (and the missing folders of its path), replacing an existing one.
FileHandle CreateTarget(const std::wstring& path) {
  const std::wstring dir = ExtractFileDir(path);
  if (!dir.empty()) ForceDirectories(dir);  // a failure shows as the failure to create the file
  FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD code = ::GetLastError();
    throw Error(FormatText(L"Cannot create file \"%s\". %s", {path, SystemMessage(code)}));
  }
  return file;
}

void WriteAll(HANDLE file, const unsigned char* data, size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, data, piece, &written, nullptr) || written == 0) RaiseStreamWriteError();
    data += written;
    size -= written;
  }
}

// Runs write(file) on a freshly created file; a file left incomplete by a failure is removed.
template <typename Write>
void WriteTarget(const std::wstring& path, Write&& write) {
  FileHandle file = CreateTarget(path);
  try {
    write(file.get());
  } catch (...) {
    file.reset();
    ::DeleteFileW(path.c_str());
    throw;
  }
  if (!::CloseHandle(file.release())) {
    ::DeleteFileW(path.c_str());
    RaiseStreamWriteError();
  }
}

void WriteHostServer(const RecordHeader& r, const std::wstring& path) {
  CheckInflatedSize(r);
  std::unique_ptr<unsigned char[]> chunk(new (std::nothrow) unsigned char[kHostChunkSize]);
  if (!chunk) RaiseZlibError(Z_MEM_ERROR);
  WriteTarget(path, [&](HANDLE file) {
    Inflater inflater(r.stream);
    inflater.InflateExactly(r.size, chunk.get(), kHostChunkSize,
                            [&](const unsigned char* data, size_t n) { WriteAll(file, data, n); });
  });
}

std::unique_ptr<unsigned char[]> InflateToMemory(const RecordHeader& r) {
  CheckInflatedSize(r);
  // At least one byte, so that a record of Size 0 still has a valid buffer.
  std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[std::max<size_t>(r.size, 1)]);
  if (!data) RaiseZlibError(Z_MEM_ERROR);
  Inflater inflater(r.stream);
  inflater.InflateExactly(r.size, data.get(), r.size, [](const unsigned char*, size_t) {});
  return data;
}

}  // namespace

bool IsSafePayloadName(std::wstring_view name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  return name.find_first_of(std::wstring_view(L"\\/:\0", 4)) == std::wstring_view::npos;
}

std::span<const unsigned char> LoadPayloadResource(HMODULE module) {
  if (!module) module = ::GetModuleHandleW(nullptr);
  HRSRC info = ::FindResourceW(module, L"DATA", L"FL");
  if (!info) throw Error(FormatText(L"Resource %s not found", {std::wstring(L"DATA")}));
  HGLOBAL loaded = ::LoadResource(module, info);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (!data) RaiseLastOSError();
  return {static_cast<const unsigned char*>(data), ::SizeofResource(module, info)};
}

bool ExtractPayload(std::span<const unsigned char> container, const std::wstring& setupFolder,
                    const std::vector<std::wstring>& proxyTargets,
                    const RegisterHostServerStep& registerHostServer) {
  const std::wstring hostName = UpperCase(kHostServerName);
  const std::wstring proxyName = UpperCase(kProxyPluginName);
  ContainerReader reader(container);
  while (!reader.AtEnd()) {
    const RecordHeader record = ReadRecordHeader(reader);
    CheckName(record.name);
    const std::wstring upperName = UpperCase(record.name);
    if (upperName == hostName) {
      // Written under the name exactly as stored.
      const std::wstring path = IncludeTrailingPathDelimiter(setupFolder) + record.name;
      WriteHostServer(record, path);
      if (registerHostServer && !registerHostServer(path)) return false;
    } else if (upperName == proxyName) {
      const auto data = InflateToMemory(record);
      for (const std::wstring& target : proxyTargets)
        WriteTarget(target, [&](HANDLE file) { WriteAll(file, data.get(), record.size); });
    }
    // Other records are skipped: the reader already stands after the stream.
  }
  return true;
}

bool ExtractPayload(const std::wstring& setupFolder, const std::vector<std::wstring>& proxyTargets,
                    const RegisterHostServerStep& registerHostServer) {
  return ExtractPayload(LoadPayloadResource(), setupFolder, proxyTargets, registerHostServer);
}

}  // namespace qor

// zlib's CRC-32, defined here so that the library's own (12 KB of lookup tables) stays out of the
// program. inflate refers to it only for gzip-wrapped streams, which a zlib-format stream never is, so
// the payload walk never calls it; it is still the exact CRC-32 of RFC 1952, one bit at a time, for
// any other caller. It must live in an object the program links before the zlib archive is searched.
extern "C" uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
  if (!buf) return 0;
  uint32_t value = ~static_cast<uint32_t>(crc);
  while (len-- > 0) {
    value ^= *buf++;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ (0xEDB88320u & (0u - (value & 1u)));
  }
  return ~value;
}
