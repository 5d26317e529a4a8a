#include "UiTestSupport.h"

#include <winternl.h>

#include <cstdlib>
#include <set>
#include <vector>

#include "Window.h"

namespace qortest {

using namespace qor;

namespace {

constexpr wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";


}  // namespace

LOGFONTW MessageFont() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  ::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  return metrics.lfMessageFont;
}

SIZE MeasureDialogText(HFONT font) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, kLetters, 52, &size);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return size;
}

int TextWidth(HFONT font, const std::wstring& text) {
  HDC dc = ::CreateCompatibleDC(nullptr);
  HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return size.cx;
}

FontHandle FontWithDialogUnits(int cx, int cy) {
  LOGFONTW base = MessageFont();
  for (int height = -6; height >= -40; --height) {
    for (int width = 0; width <= 20; ++width) {
      LOGFONTW lf = base;
      lf.lfHeight = height;
      lf.lfWidth = width;
      FontHandle font(::CreateFontIndirectW(&lf));
      SIZE size = MeasureDialogText(static_cast<HFONT>(font.get()));
      if (size.cx / 52 == cx && size.cy == cy) return font;
    }
  }
  return {};
}

FontHandle FontWithUnevenExtent(SIZE& extent) {
  LOGFONTW base = MessageFont();
  for (int height = -8; height >= -30; --height) {
    LOGFONTW lf = base;
    lf.lfHeight = height;
    FontHandle font(::CreateFontIndirectW(&lf));
    SIZE size = MeasureDialogText(static_cast<HFONT>(font.get()));
    if (size.cx % 52 >= 26) {
      extent = size;
      return font;
    }
  }
  return {};
}

std::wstring CaptionOfWidth(HFONT font, int width) {
  // Sums of character widths, smallest number of characters first (no kerning between them here).
  const std::wstring alphabet = L"ilI.ftrjJ1aoeWMmwxzcvbdghnpqsuyABCDEFGHKLNOPQRSTUVXYZ023456789";
  std::vector<std::wstring> best(static_cast<size_t>(width) + 1);
  std::vector<bool> reached(static_cast<size_t>(width) + 1, false);
  reached[0] = true;
  for (int w = 0; w <= width; ++w) {
    if (!reached[static_cast<size_t>(w)]) continue;
    for (wchar_t ch : alphabet) {
      int next = w + TextWidth(font, std::wstring(1, ch));
      if (next > width || reached[static_cast<size_t>(next)]) continue;
      reached[static_cast<size_t>(next)] = true;
      best[static_cast<size_t>(next)] = best[static_cast<size_t>(w)] + ch;
    }
  }
  if (!reached[static_cast<size_t>(width)]) return {};
  const std::wstring& caption = best[static_cast<size_t>(width)];
  return TextWidth(font, caption) == width ? caption : std::wstring();
}

int GdiObjectCount() {
  ::SetLastError(0);
  DWORD count = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  if (count != 0) return static_cast<int>(count);
  // The table that the system shares with the process (PEB.GdiSharedHandleTable, offset 0xF8 on x64):
  // 0x10000 entries of 24 bytes, an entry in use having a non-zero type byte at offset 14.
  using QueryFn = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryFn>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess"));
  PROCESS_BASIC_INFORMATION basic{};
  if (!query || query(::GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0) return -1;
  auto* peb = reinterpret_cast<const unsigned char*>(basic.PebBaseAddress);
  auto* table = *reinterpret_cast<const unsigned char* const*>(peb + 0xF8);
  if (!table) return -1;
  int used = 0;
  for (int i = 0; i < 0x10000; ++i)
    if (table[i * 24 + 14] != 0) ++used;
  return used;
}

std::wstring ScreenshotFolder() {
  const char* bin = std::getenv("QOR_TEST_BIN");
  std::wstring folder;
  if (bin) {
    std::string b(bin);
    folder.assign(b.begin(), b.end());
    for (auto& c : folder)
      if (c == L'/') c = L'\\';
    // A Unix path from CTest: reach it through Wine's Z: drive.
    if (!folder.empty() && folder[0] == L'\\') folder = L"Z:" + folder;
    folder += L"\\..\\screenshots";
  } else {
    folder = L"screenshots";
  }
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

int SaveWindowScreenshot(HWND window, const std::wstring& path) {
  RECT r{};
  ::GetWindowRect(window, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return 0;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HDC screen = ::GetDC(nullptr);
  GdiObject dib(::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  HDC memory = ::CreateCompatibleDC(screen);
  HGDIOBJ old = ::SelectObject(memory, dib.get());
  ::BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::GdiFlush();
  ::SelectObject(memory, old);
  ::DeleteDC(memory);
  ::ReleaseDC(nullptr, screen);
  if (!dib || !bits) return 0;

  int stride = (width * 3 + 3) & ~3;
  DWORD imageSize = static_cast<DWORD>(stride) * static_cast<DWORD>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file.bfSize = file.bfOffBits + imageSize;
  info.bmiHeader.biSizeImage = imageSize;
  FileHandle out(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!out) return 0;
  DWORD written = 0;
  ::WriteFile(out.get(), &file, sizeof(file), &written, nullptr);
  ::WriteFile(out.get(), &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr);
  ::WriteFile(out.get(), bits, imageSize, &written, nullptr);

  std::set<unsigned> colours;
  auto* bytes = static_cast<const unsigned char*>(bits);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const unsigned char* p = bytes + y * stride + x * 3;
      colours.insert(p[0] | (p[1] << 8) | (p[2] << 16));
    }
  return static_cast<int>(colours.size());
}

void PumpMessages(DWORD milliseconds) {
  DWORD start = ::GetTickCount();
  do {
    qor::ProcessMessages();
    ::Sleep(5);
  } while (::GetTickCount() - start < milliseconds);
}

}  // namespace qortest
