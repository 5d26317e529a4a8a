// Stand-in for the proxy packer plugin QuorvexWCX.wcx64: a 64-bit library whose version resource carries
// the file description "WCX proxy plugin" (the setup recognises its copies by it) and which exports the
// packer-plugin entry points, each answering "not supported". It forwards nothing to any host server.
#include "StandInProxyPlugin.h"

using qor_standin::kWcxNotSupported;
using qor_standin::OpenArchiveData;
using qor_standin::OpenArchiveDataW;

#define WCX_EXPORT extern "C" __declspec(dllexport)

WCX_EXPORT HANDLE __stdcall OpenArchive(OpenArchiveData* data) {
  if (data) data->OpenResult = kWcxNotSupported;
  return nullptr;
}
WCX_EXPORT HANDLE __stdcall OpenArchiveW(OpenArchiveDataW* data) {
  if (data) data->OpenResult = kWcxNotSupported;
  return nullptr;
}
WCX_EXPORT int __stdcall ReadHeader(HANDLE, void*) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall ReadHeaderEx(HANDLE, void*) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall ReadHeaderExW(HANDLE, void*) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall ProcessFile(HANDLE, int, char*, char*) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall ProcessFileW(HANDLE, int, wchar_t*, wchar_t*) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall CloseArchive(HANDLE) { return kWcxNotSupported; }
WCX_EXPORT void __stdcall SetChangeVolProc(HANDLE, void*) {}
WCX_EXPORT void __stdcall SetChangeVolProcW(HANDLE, void*) {}
WCX_EXPORT void __stdcall SetProcessDataProc(HANDLE, void*) {}
WCX_EXPORT void __stdcall SetProcessDataProcW(HANDLE, void*) {}
WCX_EXPORT int __stdcall PackFiles(char*, char*, char*, char*, int) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall PackFilesW(wchar_t*, wchar_t*, wchar_t*, wchar_t*, int) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall DeleteFiles(char*, char*) { return kWcxNotSupported; }
WCX_EXPORT int __stdcall DeleteFilesW(wchar_t*, wchar_t*) { return kWcxNotSupported; }
// No capabilities: it cannot create, modify or delete archives.
WCX_EXPORT int __stdcall GetPackerCaps() { return 0; }
WCX_EXPORT BOOL __stdcall CanYouHandleThisFile(char*) { return FALSE; }
WCX_EXPORT BOOL __stdcall CanYouHandleThisFileW(wchar_t*) { return FALSE; }
