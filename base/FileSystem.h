// File-system tests and folder creation, and environment references in paths.
#pragma once
#include <string>

namespace qor {

// Existence tests that follow symbolic links.
bool FileExists(const std::wstring& path);
bool DirectoryExists(const std::wstring& path);
// Creates every missing level from the outermost inwards; true when the folder exists afterwards.
bool ForceDirectories(const std::wstring& path);

// %NAME% references replaced from the process's environment; undefined ones stay as written.
std::wstring ExpandEnvStr(const std::wstring& text);

}  // namespace qor
