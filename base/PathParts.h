// Path parts: folder, directory and file name parts, extensions and joins. "\" and ":" are the
// delimiters.
#pragma once
#include <string>
#include <string_view>

namespace qor {

// Everything up to and including the last delimiter; C:\TC\TOTALCMD64.EXE gives C:\TC\,
// a name without delimiter the empty text.
std::wstring ExtractFilePath(std::wstring_view path);
// The folder part without its final "\", unless that "\" directly follows another "\" or a ":"
// (C:\Windows gives C:\, C:\a\b gives C:\a).
std::wstring ExtractFileDir(std::wstring_view path);
// Everything after the last delimiter.
std::wstring ExtractFileName(std::wstring_view path);
// Replaces the file name part from its last "." on with ext, or appends ext when there is no ".".
std::wstring ChangeFileExt(std::wstring_view path, std::wstring_view ext);
// Appends "\" unless the text already ends with one (the empty text gives "\").
std::wstring IncludeTrailingPathDelimiter(std::wstring_view path);
// Joins a folder and a file name with exactly one "\" between them. An empty folder gives the name
// unchanged, and a drive-relative folder such as "C:" is not given a "\" (C: + y gives C:y).
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

}  // namespace qor
