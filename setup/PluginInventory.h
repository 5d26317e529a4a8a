// The packer plugins of a wincmd.ini that the add-on can serve: those with no real 64-bit build beside
// them. The list they go into is reached through a narrow interface, so the scan works the same on the
// main window's list view and on a plain list in the tests.
#pragma once
#include <string>

#include "VersionInfo.h"

namespace qor {

// The plugin list as the inventory and the install procedure see it. An item is a plugin: its caption is
// the plugin's file name, its folder the directory part of the plugin path, plus a check box.
class PluginList {
 public:
  virtual ~PluginList() = default;
  virtual void Clear() = 0;
  virtual int Count() const = 0;
  virtual std::wstring Caption(int index) const = 0;
  virtual std::wstring Folder(int index) const = 0;
  virtual bool Checked(int index) const = 0;
  // Adds a ticked item, kept in caption order (lstrcmpW).
  virtual void AddTicked(const std::wstring& caption, const std::wstring& folder) = 0;
};

// The plugin path an item stands for: its folder joined with its caption.
std::wstring PluginPath(const PluginList& list, int index);
// Where a plugin's proxy copy goes: the plugin path with the extension replaced by ".wcx64".
std::wstring ProxySiblingPath(const std::wstring& pluginPath);

// True when the file's version resource names it a copy of the proxy plugin ("WCX proxy plugin" as the
// FileDescription of its first translation). A file without a readable version resource is not one.
bool IsProxyPluginCopy(const std::wstring& file);
// The same, reading the resource into buffer, which a scan over many files keeps from one to the next.
bool IsProxyPluginCopy(const std::wstring& file, VersionResource& buffer);

// Strips a leading "<integer>," from a configured plugin value (287,C:\x.wcx gives C:\x.wcx); a value
// whose text before the first comma is not an integer stays whole.
std::wstring StripNumericPrefix(const std::wstring& value);

// The key by which a section of wincmd.ini says that Total Commander reads it from another file.
inline constexpr wchar_t kRedirectSectionKey[] = L"RedirectSection";
// The file that a "RedirectSection" value of wincmdIni names: environment references expanded; a drive
// path (C:\...) or a rooted one (\..., \\server\...) stands as it is, anything else is relative to
// wincmdIni's folder. Empty when the value expands to nothing.
std::wstring RedirectTarget(const std::wstring& wincmdIni, const std::wstring& value);

// Refills the list from the section "PackerPlugins" of wincmdIni: every plugin whose ".wcx64" sibling is
// missing or is a proxy copy, once each (case-insensitive), ticked. When the section holds the key
// "RedirectSection", the section is read from the file that key names instead. Never raises; a failure
// ends the scan with the items found so far.
void PluginInventory(const std::wstring& wincmdIni, PluginList& list);

// The button-caption rule: true (the Install texts) when at least one item is ticked, false (the
// Uninstall texts) when none is.
bool AnyPluginTicked(const PluginList& list);

}  // namespace qor
