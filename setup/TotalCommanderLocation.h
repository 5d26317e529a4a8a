// Finds the wincmd.ini in use and the Total Commander program folder without asking the user.
// Every function here returns the empty text for "not found" and never raises.
#pragma once
#include <string>

namespace qor {

// The full path of an existing wincmd.ini, or the empty text.
std::wstring FindWincmdIni();
// The Total Commander program folder as found (not tested for existence; it may lack a trailing "\").
std::wstring FindTotalCommanderDir();
// The wincmd.ini that the Total Commander installed in programDir uses, if that file exists.
std::wstring IniFileForProgramDir(const std::wstring& programDir);
// The parent process's image path when it is TOTALCMD.EXE or TOTALCMD64.EXE (any letter case).
std::wstring TotalCommanderParentPath();
// The directory part of the Windows folder (C:\ for C:\Windows), or the empty text.
std::wstring GetWindowsFolderParent();
// The default setup folder for a found program folder: <folder>\Plugins\Quorvex when the folder exists,
// else the empty text.
std::wstring DefaultSetupFolder(const std::wstring& totalCommanderDir);

// Total Commander's registry key under HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kTotalCommanderKey[] = L"Software\\Ghisler\\Total Commander";

}  // namespace qor
