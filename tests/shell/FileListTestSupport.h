// Small checks shared by the file list tests.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Error.h"
#include "FileLists.h"
#include "FileTestSupport.h"
#include "Handles.h"

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

enum class AfterTheEnd { Nothing, ExpectOutOfFileList };

// A whole walk: visit is called with the handle and record of each item (traced by its name), the
// ended walk is checked when asked, and the handle is closed. A list without a first item is a
// failure. Returns the number of items visited.
inline int WalkEveryItem(qor::TqorShellFileList& list,
                         const std::function<void(qor::TqorSearchHandle, const qor::TqorSearchRec&)>& visit,
                         AfterTheEnd afterTheEnd = AfterTheEnd::Nothing) {
  qor::TqorSearchRec rec;
  const qor::TqorSearchHandle h = list.FindFirst(rec);
  if (!h) {
    ADD_FAILURE() << "the list gives no first item";
    return 0;
  }
  qor::ScopeGuard close([&] { list.FindClose(h); });
  int visited = 0;
  do {
    SCOPED_TRACE(Narrow(rec.FileName));
    ++visited;
    visit(h, rec);
  } while (list.FindNext(h, rec));
  if (afterTheEnd == AfterTheEnd::ExpectOutOfFileList) ExpectOutOfFileList(list, h, rec);
  return visited;
}

}  // namespace qortest
