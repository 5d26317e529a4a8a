// The packer-plugin (WCX) interface as far as the stand-in proxy exports it; shared with its tests.
#pragma once
#include <windows.h>

namespace qor_standin {

// The WCX result "function not supported".
inline constexpr int kWcxNotSupported = 24;

struct OpenArchiveData {
  char* ArcName;
  int OpenMode;
  int OpenResult;
  char* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};

struct OpenArchiveDataW {
  wchar_t* ArcName;
  int OpenMode;
  int OpenResult;
  wchar_t* CmtBuf;
  int CmtBufSize;
  int CmtSize;
  int CmtState;
};

}  // namespace qor_standin
