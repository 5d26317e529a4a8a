// What the stand-in host server registers; shared with its tests.
#pragma once

namespace qor_standin {

// The stand-in's own class: it is not the class of the real host server.
inline constexpr wchar_t kClassId[] = L"{5C2A7E14-9B3D-4F61-A8E0-3D7C51B2F946}";
// Under HKEY_LOCAL_MACHINE (all users) or HKEY_CURRENT_USER (current user).
inline constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{5C2A7E14-9B3D-4F61-A8E0-3D7C51B2F946}";
inline constexpr wchar_t kClassName[] = L"Quorvex host server (stand-in)";

inline constexpr wchar_t kMainWindowClass[] = L"TQuorvexMainForm";
inline constexpr wchar_t kMainWindowText[] = L"Quorvex";
// The quit message: WM_USER with wParam = lParam = kQuitParam.
inline constexpr unsigned kQuitParam = 0x12345689;

}  // namespace qor_standin
