#include "VersionInfo.h"

#include <cwchar>

#include "Format.h"

namespace qor {

namespace {
// A version resource is at most 65535 bytes (its length is a WORD); with the room the system adds for
// its conversions it always fits in 128 KiB. One read into a buffer of that size, instead of asking for
// the size first, halves the cost per file, which dominates the inventory of a large wincmd.ini.
constexpr DWORD kVersionBufferSize = 128 * 1024;
}  // namespace

bool VersionResource::Read(const std::wstring& fileName) {
  held_ = false;
  // The buffer is reused: a damaged resource whose block lengths reach past the bytes the system copies
  // would otherwise be read on from the previous file's bytes, and a real build could pass for a proxy.
  data_.assign(kVersionBufferSize, 0);
  held_ = ::GetFileVersionInfoW(fileName.c_str(), 0, static_cast<DWORD>(data_.size()), data_.data()) != 0;
  return held_;
}

std::wstring VersionResource::String(std::wstring_view name) const {
  if (!held_) return {};
  void* translation = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &translation, &length) || !translation ||
      length < 2 * sizeof(WORD))
    return {};
  const auto* pair = static_cast<const WORD*>(translation);  // language, code page
  std::wstring subBlock = L"\\StringFileInfo\\" + HexText(pair[0], 4) + HexText(pair[1], 4) + L"\\";
  subBlock += name;
  void* value = nullptr;
  UINT characters = 0;
  if (!::VerQueryValueW(data_.data(), subBlock.c_str(), &value, &characters) || !value) return {};
  const auto* text = static_cast<const wchar_t*>(value);
  return std::wstring(text, wcsnlen(text, characters));
}

}  // namespace qor
