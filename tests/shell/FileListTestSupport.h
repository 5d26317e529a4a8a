// Small checks shared by the file list tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Error.h"
#include "FileLists.h"

namespace qortest {

// The message of the qor::Error the action raises, or "(no error)".
inline std::wstring ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const qor::Error& e) {
    return e.message();
  }
  return L"(no error)";
}

inline std::wstring Lower(std::wstring s) {
  CharLowerBuffW(s.data(), static_cast<DWORD>(s.size()));
  return s;
}

inline bool IsZero(const FILETIME& t) { return t.dwLowDateTime == 0 && t.dwHighDateTime == 0; }
inline bool SameTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// After the walk has ended, neither a stream nor a sub-list is made for the last item again.
inline void ExpectOutOfFileList(qor::TqorShellFileList& list, qor::TqorSearchHandle h, const qor::TqorSearchRec& rec) {
  EXPECT_EQ(ErrorOf([&] { list.CreateFileStream(h, rec, STGM_READ, false); }), L"Out of file list");
  EXPECT_EQ(ErrorOf([&] { list.CreateFolderFileList(h, rec); }), L"Out of file list");
}

}  // namespace qortest
