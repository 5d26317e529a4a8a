// qor_pack OUTPUT NAME=FILE [NAME=FILE ...]
//
// Writes the setup's payload container: one record per argument, in the order given, each holding the
// file compressed as one zlib stream (default level). The record layout is PayloadFormat.h
// (docs/payload-format.md). The output is written to a temporary file and renamed, so a failed run never
// leaves a half-written container that looks newer than its inputs.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "PayloadFormat.h"

namespace format = qor::payload_format;

namespace {

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "qor_pack: " << message << "\n";
  std::exit(1);
}

// UTF-8 to UTF-16 code units; fails on malformed input.
std::u16string Utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = s[i];
    uint32_t cp;
    size_t len;
    if (c < 0x80) { cp = c; len = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; len = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; len = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; len = 4; }
    else Fail("record name is not valid UTF-8: " + s);
    if (i + len > s.size()) Fail("record name is not valid UTF-8: " + s);
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = s[i + k];
      if ((cc & 0xC0) != 0x80) Fail("record name is not valid UTF-8: " + s);
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

// A record name is a bare file name: the setup writes it into a folder as it stands.
void CheckName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." ||
      name.find_first_of(std::string("\\/:\0", 4)) != std::string::npos)
    Fail("record name must be a bare file name: \"" + name + "\"");
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot open " + path);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) Fail("cannot read " + path);
  return data;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) Fail("usage: qor_pack OUTPUT NAME=FILE [NAME=FILE ...]");
  const std::string output = argv[1];
  std::string container;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    size_t eq = arg.find('=');
    if (eq == std::string::npos) Fail("expected NAME=FILE, got " + arg);
    std::string name = arg.substr(0, eq), path = arg.substr(eq + 1);
    CheckName(name);
    std::u16string wname = Utf8ToUtf16(name);
    if (wname.size() > format::kMaxNameUnits) Fail("record name too long: " + name);
    std::string data = ReadWholeFile(path);
    if (data.size() > format::kMaxFileBytes) Fail(path + " is larger than 4 GiB - 1");

    uLongf packedSize = compressBound(static_cast<uLong>(data.size()));
    std::string packed(packedSize, '\0');
    int rc = compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                       reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                       Z_DEFAULT_COMPRESSION);
    if (rc != Z_OK) Fail(std::string("zlib: ") + zError(rc));
    if (packedSize > format::kMaxFileBytes) Fail(path + " compresses to more than 4 GiB - 1");
    packed.resize(packedSize);

    format::AppendRecordHeader(container, wname, static_cast<uint32_t>(data.size()),
                               static_cast<uint32_t>(packed.size()));
    container += packed;
    std::cout << "qor_pack: " << name << ": " << data.size() << " -> " << packed.size() << " bytes\n";
  }

  const std::string temp = output + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) Fail("cannot create " + temp);
    out.write(container.data(), static_cast<std::streamsize>(container.size()));
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      Fail("cannot write " + temp);
    }
  }
  if (std::rename(temp.c_str(), output.c_str()) != 0) {
    std::remove(temp.c_str());
    Fail("cannot rename " + temp + " to " + output);
  }
  std::cout << "qor_pack: " << output << ": " << container.size() << " bytes\n";
  return 0;
}
