// Readers of registry values and of the program folder's wincmd.ini flags.
//
// "regreadstring": RegReadString on one value of any type and length (part 0: type + data).
// "location": the Total Commander location on a mutated program-folder wincmd.ini (part 0) and the values
// InstallDir under HKCU and HKLM (parts 1, 2) and IniFileName under HKCU and HKLM (parts 3, 4). The
// program folder is C:\qor_fuzz\location\TC; %QOR_FUZZ_ROOT%\user\wincmd.ini exists.
#include <cwctype>

#include "Fuzzer.h"
#include "FileSystem.h"
#include "PathParts.h"
#include "TextCompare.h"
#include "Sandbox.h"
#include "TotalCommanderLocation.h"
#include "qorShellBaseExtension.h"

namespace qortest::fuzz {
namespace {

constexpr wchar_t kFuzzKey[] = L"Software\\QuorvexFuzz";

MutationHints RegistryHints() {
  MutationHints hints;
  hints.tokens = {std::string("\0\0", 2), std::string("%\0", 2), std::string("\\\0", 2), std::string(":\0", 2),
                  std::string("%\0Q\0O\0R\0_\0F\0U\0Z\0Z\0_\0R\0O\0O\0T\0%\0", 30),
                  std::string("%\0A\0P\0P\0D\0A\0T\0A\0%\0", 18), std::string("\x01\0\0\0", 4),
                  std::string("\x02\0\0\0", 4), std::string("\x03\0\0\0", 4), std::string("\x07\0\0\0", 4)};
  hints.maxPartSize = 2048;
  return hints;
}

// The value parts: the type is a 4-byte field.
std::vector<Field> TypeFields(const Input& input, size_t firstValuePart) {
  std::vector<Field> fields;
  for (size_t p = firstValuePart; p < input.parts.size(); ++p) fields.push_back({p, 0, 4});
  return fields;
}

class RegReadStringTarget : public Target {
 public:
  const char* Name() const override { return "regreadstring"; }
  void Prepare() override { RegDeleteTreeW(HKEY_CURRENT_USER, kFuzzKey); }
  void Cleanup() override { RegDeleteTreeW(HKEY_CURRENT_USER, kFuzzKey); }
  std::vector<Field> FieldsOf(const Input& input) const override { return TypeFields(input, 0); }
  MutationHints Hints() const override { return RegistryHints(); }

  Outcome Run(const Input& input) override {
    Outcome out;
    SetValueFromPart(HKEY_CURRENT_USER, kFuzzKey, L"V", input.parts.at(0));
    DWORD type = REG_NONE;
    const std::optional<std::string> stored = StoredValue(HKEY_CURRENT_USER, kFuzzKey, L"V", &type);
    std::wstring result;
    try {
      result = qor::RegReadString(HKEY_CURRENT_USER, kFuzzKey, L"V");
    } catch (...) {
      out.violation = "RegReadString raised";
      return out;
    }
    // What the reader promises for the stored bytes: nothing for an absent value or more than 512 bytes;
    // else the data as UTF-16 without its last unit, and text types end at their first NUL.
    std::wstring expected;
    if (stored && stored->size() <= 512) {
      const long length = static_cast<long>(stored->size() / 2) - 1;
      if (length > 0) expected.assign(reinterpret_cast<const wchar_t*>(stored->data()), static_cast<size_t>(length));
      if (type == REG_SZ || type == REG_EXPAND_SZ) expected.resize(wcsnlen(expected.c_str(), expected.size()));
    }
    if (result != expected) {
      out.violation = "the text read differs from the stored value";
      out.detail = "    read " + std::to_string(result.size()) + " units, expected " + std::to_string(expected.size()) + "\n";
    }
    return out;
  }
};

// The integer rules of UseIniInProgramDir for the plain forms: decimal, 0x or $ hexadecimal, short
// enough not to overflow. Other texts are left to the reader.
std::optional<long long> PlainFlag(const std::wstring& text) {
  size_t i = 0;
  int base = 10;
  if (text.size() > 1 && text[0] == L'$') base = 16, i = 1;
  else if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) base = 16, i = 2;
  if (i >= text.size() || text.size() - i > 7) return std::nullopt;
  long long value = 0;
  for (; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c >= L'0' && c <= L'9') value = value * base + (c - L'0');
    else if (base == 16 && std::iswxdigit(c)) value = value * 16 + (std::towlower(c) - L'a' + 10);
    else return std::nullopt;
  }
  return value;
}

class LocationTarget : public Target {
 public:
  const char* Name() const override { return "location"; }
  void Prepare() override {
    box_.Make(Name());
    programDir_ = box_ / L"TC";
    WriteFileNewStamp(box_ / L"user\\wincmd.ini", "[PackerPlugins]\r\n");
    SetEnvironmentVariableW(L"QOR_FUZZ_ROOT", box_.path().c_str());
    SetEnvironmentVariableW(L"COMMANDER_PATH", nullptr);
    ClearValues();
    parentIsTotalCommander_ = !qor::TotalCommanderParentPath().empty();
  }
  void Cleanup() override {
    ClearValues();
    SetEnvironmentVariableW(L"QOR_FUZZ_ROOT", nullptr);
    box_.Remove();
  }
  std::vector<Field> FieldsOf(const Input& input) const override { return TypeFields(input, 1); }
  MutationHints Hints() const override {
    MutationHints hints = RegistryHints();
    for (const char* t : {"UseIniInProgramDir=", "[Configuration]", "0x", "$", "4", "-", "\r\n", "=", " "})
      hints.tokens.push_back(t);
    return hints;
  }

  Outcome Run(const Input& input) override {
    Outcome out;
    if (parentIsTotalCommander_) {
      out.violation = "the fuzz program was started by Total Commander: the parent step would decide";
      return out;
    }
    const std::wstring programIni = programDir_ + L"\\wincmd.ini";
    const std::string iniBytes = input.parts.at(0);
    WriteFileNewStamp(programIni, iniBytes);
    const wchar_t* names[] = {L"InstallDir", L"InstallDir", L"IniFileName", L"IniFileName"};
    const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (size_t i = 0; i < 4; ++i)
      SetValueFromPart(roots[i], qor::kTotalCommanderKey, names[i], i + 1 < input.parts.size() ? input.parts[i + 1] : "");
    const auto before = ListFilesBelow(box_.path());

    std::wstring forProgramDir, wincmdIni, dir, setupFolder;
    try {
      forProgramDir = qor::IniFileForProgramDir(programDir_);
      wincmdIni = qor::FindWincmdIni();
      dir = qor::FindTotalCommanderDir();
      setupFolder = qor::DefaultSetupFolder(dir);
    } catch (...) {
      out.violation = "the location code raised";
      return out;
    }
    out.violation = Judge(programIni, forProgramDir, wincmdIni, dir, setupFolder);
    if (out.violation.empty() && (ListFilesBelow(box_.path()).size() != before.size() || ReadBytes(programIni) != iniBytes))
      out.violation = "the location code changed the files it read";
    if (!out.violation.empty())
      out.detail = "    IniFileForProgramDir " + Narrow(forProgramDir) + "\n    FindWincmdIni " + Narrow(wincmdIni) +
                   "\n    FindTotalCommanderDir " + Narrow(dir) + "\n";
    return out;
  }

 private:
  static std::wstring Value(const wchar_t* name) {
    std::wstring v = qor::RegReadString(HKEY_CURRENT_USER, qor::kTotalCommanderKey, name);
    return v.empty() ? qor::RegReadString(HKEY_LOCAL_MACHINE, qor::kTotalCommanderKey, name) : v;
  }

  std::string Judge(const std::wstring& programIni, const std::wstring& forProgramDir, const std::wstring& wincmdIni,
                    const std::wstring& dir, const std::wstring& setupFolder) {
    const std::wstring installDir = Value(L"InstallDir");
    const std::wstring named = qor::ExpandEnvStr(Value(L"IniFileName"));
    if (dir != installDir) return "FindTotalCommanderDir is not InstallDir as stored";
    if (!forProgramDir.empty() && forProgramDir != programIni && forProgramDir != named)
      return "IniFileForProgramDir gave a file from neither the program folder nor IniFileName";
    if (!forProgramDir.empty() && !qor::FileExists(forProgramDir)) return "IniFileForProgramDir gave a missing file";
    wchar_t flag[64] = {};
    GetPrivateProfileStringW(L"Configuration", L"UseIniInProgramDir", L"", flag, 64, programIni.c_str());
    if (const auto value = PlainFlag(flag)) {
      const std::wstring expected = (*value & 4) ? programIni : (qor::FileExists(named) ? named : std::wstring());
      if (forProgramDir != expected) return "IniFileForProgramDir does not follow the flag's bit 4";
    }
    std::wstring expectedIni = installDir.empty() ? std::wstring() : qor::IniFileForProgramDir(installDir);
    if (expectedIni.empty() && qor::FileExists(L"C:\\wincmd.ini")) expectedIni = L"C:\\wincmd.ini";
    if (wincmdIni != expectedIni) return "FindWincmdIni is not the first source that gives an existing file";
    const std::wstring expectedSetup =
        qor::DirectoryExists(dir) ? qor::IncludeTrailingPathDelimiter(dir) + L"Plugins\\Quorvex" : std::wstring();
    if (setupFolder != expectedSetup) return "the default setup folder does not follow the program folder";
    return {};
  }

  static void ClearValues() {
    RegDeleteTreeW(HKEY_CURRENT_USER, qor::kTotalCommanderKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, qor::kTotalCommanderKey);
  }

  Sandbox box_;
  std::wstring programDir_;
  bool parentIsTotalCommander_ = false;
};

}  // namespace

std::unique_ptr<Target> MakeRegReadStringTarget() { return std::make_unique<RegReadStringTarget>(); }
std::unique_ptr<Target> MakeLocationTarget() { return std::make_unique<LocationTarget>(); }

}  // namespace qortest::fuzz
