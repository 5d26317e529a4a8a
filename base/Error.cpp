#include "Error.h"

#include "Format.h"

namespace qor {

std::wstring SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (n != 0 && buffer) text.assign(buffer, n);
  if (buffer) ::LocalFree(buffer);
  // Trailing line breaks, blanks and full stops are cut, so the text can be embedded in a sentence.
  while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
  return text;
}

std::wstring SystemErrorText(DWORD code) {
  if (code == 0) return L"A call to an OS function failed";
  return FormatText(L"System Error.  Code: %d.\r\n%s", {static_cast<long long>(code), SystemMessage(code)});
}

OSError::OSError(DWORD code) : Error(SystemErrorText(code)), code_(code) {}

static std::wstring OleErrorText(HRESULT hr) {
  std::wstring text = SystemMessage(static_cast<DWORD>(hr));
  if (text.empty()) {
    wchar_t hex[16];
    ::wsprintfW(hex, L"%08X", static_cast<unsigned>(hr));
    text = L"OLE error " + std::wstring(hex);
  }
  return text;
}

OleSysError::OleSysError(HRESULT hr) : Error(OleErrorText(hr)), hr_(hr) {}

void RaiseLastOSError() { throw OSError(::GetLastError()); }
void RaiseOSError(DWORD code) { throw OSError(code); }

void OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw OleSysError(hr);
}

}  // namespace qor
