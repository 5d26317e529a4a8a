// The installation payload: the container of the host server and the proxy plugin that the setup
// carries as its resource "DATA" of type "FL", and the walk that writes them out.
// Container layout: docs/payload-format.md.
#pragma once
#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <vector>

namespace qor {

inline constexpr wchar_t kHostServerName[] = L"Quorvex.exe";
inline constexpr wchar_t kProxyPluginName[] = L"QuorvexWCX.wcx64";

// The registration step: called with the full path of the host server as soon as it is written.
// Returns false when the user declined the elevation that registration needs; the walk then stops.
// An error it raises ends the walk and reaches the caller.
using RegisterHostServerStep = std::function<bool(const std::wstring& hostServerPath)>;

// The container bytes: the resource "DATA" of type "FL" of the module (nullptr: the program itself).
// The view stays valid while the module is loaded. Raises qor::Error "Resource DATA not found".
std::span<const unsigned char> LoadPayloadResource(HMODULE module = nullptr);

// Walks the container once, front to back:
// - the host server record (name equal to "Quorvex.exe" ignoring case) is inflated straight into
//   setupFolder + the stored name (missing folders are created, an existing file replaced) and then
//   handed to registerHostServer;
// - the proxy record ("QuorvexWCX.wcx64" ignoring case) is inflated once into memory and written to every
//   path of proxyTargets, in order;
// - any other record is skipped without inflating.
// Every record name must pass IsSafePayloadName, or the walk stops with an error before writing under it.
// An empty registerHostServer counts as a registration that went ahead.
// Returns false when registerHostServer declined (nothing after the host server is written), true when
// the walk reached the end of the container. Raises qor::Error with the message text on any failure;
// files completely written before the failure stay, a file left incomplete by it is removed.
bool ExtractPayload(std::span<const unsigned char> container, const std::wstring& setupFolder,
                    const std::vector<std::wstring>& proxyTargets,
                    const RegisterHostServerStep& registerHostServer);

// The same over the program's own resource.
bool ExtractPayload(const std::wstring& setupFolder, const std::vector<std::wstring>& proxyTargets,
                    const RegisterHostServerStep& registerHostServer);

// True for a record name that may be written into a folder: not empty, not "." or "..", and without
// "\", "/", ":" or NUL, so that it can never place a file outside that folder.
bool IsSafePayloadName(std::wstring_view name);

}  // namespace qor
