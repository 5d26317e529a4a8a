// The size reference of the setup program: what a static C++20 program pays before it does anything of
// its own (the runtime with exceptions, a thread, and zlib's inflate).
#include <windows.h>
#include <zlib.h>

#include <stdexcept>
#include <string>
#include <thread>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  int result = 0;
  std::thread worker([&] {
    try {
      if (commandLine && *commandLine == L'x') throw std::runtime_error("unused");
      z_stream stream{};
      result = inflateInit(&stream);
      inflateEnd(&stream);
    } catch (const std::exception&) {
      result = -1;
    }
  });
  worker.join();
  std::wstring text = L"zlib " + std::to_wstring(result);
  if (commandLine && *commandLine == L'?') MessageBoxW(nullptr, text.c_str(), L"reference", MB_OK);
  return result;
}
