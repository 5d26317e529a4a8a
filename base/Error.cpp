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
  if (text.empty()) text = L"OLE error " + HexText(static_cast<unsigned long>(hr), 8);
  return text;
}

OleSysError::OleSysError(HRESULT hr) : Error(OleErrorText(hr)), hr_(hr) {}

void RaiseLastOSError() { throw OSError(::GetLastError()); }
void RaiseOSError(DWORD code) { throw OSError(code); }

void OleCheck(HRESULT hr) {
  if (FAILED(hr)) throw OleSysError(hr);
}

namespace {
std::wstring NarrowToText(const char* text) {
  if (!text || !*text) return {};
  for (UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    int n = ::MultiByteToWideChar(codePage, flags, text, -1, nullptr, 0);
    if (n <= 1) continue;
    std::wstring out(static_cast<size_t>(n), L'\0');
    ::MultiByteToWideChar(codePage, flags, text, -1, out.data(), n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
  }
  return {};
}
}  // namespace

std::wstring ExceptionText(const std::exception_ptr& error) noexcept {
  if (!error) return {};
  try {
    try {
      std::rethrow_exception(error);
    } catch (const Error& e) {
      return e.message();
    } catch (const std::bad_alloc&) {
      return L"Out of memory";
    } catch (const std::exception& e) {
      std::wstring text = NarrowToText(e.what());
      return text.empty() ? std::wstring(L"Unexpected error") : text;
    } catch (...) {
      return L"Unexpected error";
    }
  } catch (...) {
    // Building the text failed (no memory left): the caller shows what it can.
    return {};
  }
}

int RunReportingErrors(const std::function<int()>& body,
                       const std::function<void(const std::wstring&)>& report) noexcept {
  std::exception_ptr error;
  try {
    return body();
  } catch (...) {
    error = std::current_exception();
  }
  try {
    if (report) report(ExceptionText(error));
  } catch (...) {
  }
  return 1;
}

}  // namespace qor
