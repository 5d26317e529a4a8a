// The data-object file lists on a mutated medium from another process: part 0 picks the kind (its first
// byte modulo 5: CF_FILENAMEW, CF_FILENAME, FILEGROUPDESCRIPTORW, FILEGROUPDESCRIPTORA, CF_HDROP), part 1
// is the global block that a small data object serves for it. A well-formed medium must give its names,
// a malformed one a documented error, whatever it holds.
// (Item id arrays are left out: the shell itself interprets the item ids they carry.)
#include "FileLists.h"

#include <shellapi.h>

#include <cstring>
#include <optional>
#include <set>

#include "Error.h"
#include "Fuzzer.h"
#include "qorShellBaseExtension.h"

namespace qortest::fuzz {
namespace {

// Serves one format as a fresh global block of the given bytes on each GetData.
class BlockDataObject : public IDataObject {
 public:
  BlockDataObject(UINT format, const std::string& bytes) : format_(format), bytes_(bytes) {}
  virtual ~BlockDataObject() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) noexcept override {
    if (iid == IID_IUnknown || iid == IID_IDataObject) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) noexcept override {
    if (!Serves(format)) return DV_E_FORMATETC;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes_.size());
    if (!block) return E_OUTOFMEMORY;
    if (void* p = GlobalLock(block)) {
      memcpy(p, bytes_.data(), bytes_.size());
      GlobalUnlock(block);
    }
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) noexcept override {
    return Serves(format) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) noexcept override {
    if (out) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) noexcept override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) noexcept override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  bool Serves(const FORMATETC* f) const {
    return f && f->cfFormat == format_ && (f->tymed & TYMED_HGLOBAL) && f->lindex == -1;
  }
  ULONG refs_ = 1;
  UINT format_;
  std::string bytes_;
};

enum Kind { kNameW, kNameA, kDescriptorW, kDescriptorA, kDrop, kKinds };

bool IsDocumentedError(const std::wstring& text) {
  static const std::set<std::wstring> texts = {
      L"Invalid file name: the text has no end inside the medium",
      L"Invalid file group descriptor: the descriptors do not fit the medium",
      L"Invalid drop file list: the file list does not fit the medium", L"Invalid medium"};
  return texts.count(text) > 0;
}

class FileListTarget : public Target {
 public:
  const char* Name() const override { return "filelist"; }

  std::vector<Field> FieldsOf(const Input& input) const override {
    std::vector<Field> fields = {{1, 0, 4}};  // the item count, or DROPFILES.pFiles
    if (!input.parts.at(0).empty() && input.parts[0][0] % kKinds == kDrop) fields.push_back({1, 16, 4});  // fWide
    return fields;
  }
  MutationHints Hints() const override {
    MutationHints hints;
    hints.tokens = {std::string("\0\0", 2), std::string("\0\0\0\0", 4), std::string("\\\0", 2), "\\", "C:\\"};
    hints.maxPartSize = 1 << 18;
    return hints;
  }

  Outcome Run(const Input& input) override {
    Outcome out;
    const int kind = input.parts.at(0).empty() ? 0 : static_cast<unsigned char>(input.parts[0][0]) % kKinds;
    const std::string& block = input.parts.at(1);
    const UINT formats[] = {qor::CF_FILENAMEW, qor::CF_FILENAME, qor::CF_FILEDESCRIPTORW, qor::CF_FILEDESCRIPTOR,
                            CF_HDROP};
    const std::optional<std::vector<std::wstring>> expected = Expected(kind, block);
    auto* object = new BlockDataObject(formats[kind], block);
    std::vector<std::wstring> names;
    bool listed = false;
    try {
      std::unique_ptr<qor::TqorShellFileList> list;
      if (kind <= kNameA) list = std::make_unique<qor::TqorDataObjectCF_FILENAMEFileList>(object);
      else if (kind <= kDescriptorA) list = std::make_unique<qor::TqorDataObjectCF_FILEDESCRIPTORFileList>(object);
      else list = std::make_unique<qor::TqorDataObjectCF_HDROPFileList>(object);
      bool realFilesOnly = true;
      names = list->CreateFileList(realFilesOnly);
      listed = true;
    } catch (const qor::OleSysError&) {
      out.error = L"GetData failed";  // the kinds that fall back to the ANSI format ask for it
    } catch (const qor::OSError& e) {
      out.error = L"system error " + std::to_wstring(e.code());
    } catch (const qor::Error& e) {
      out.error = e.message();
      if (!IsDocumentedError(e.message())) out.violation = "undocumented error text";
    } catch (const std::bad_alloc&) {
      out.violation = "out of memory (a count taken on trust?)";
    } catch (const std::exception& e) {
      out.violation = std::string("exception of another type: ") + e.what();
    } catch (...) {
      out.violation = "exception of an unknown type";
    }
    object->Release();
    if (!out.violation.empty()) return out;
    const bool lockable = !block.empty();  // a block of size 0 cannot be locked
    if (expected && lockable && !listed) out.violation = "a well-formed medium refused";
    else if (!expected && listed) out.violation = "a malformed medium accepted";
    else if (expected && listed && names != *expected) out.violation = "other names than the medium holds";
    return out;
  }

 private:
  // The names a medium holds when it is well formed, read here on their own terms; nullopt when it is not.
  static std::optional<std::vector<std::wstring>> Expected(int kind, const std::string& b) {
    // The text at `at` up to its NUL, or all of maxChars when none comes first; nullopt when the block ends
    // before either (an unbounded text, SIZE_MAX - 1, then has no end inside the block).
    const auto text = [&](size_t at, size_t maxChars, bool wide) -> std::optional<std::wstring> {
      std::wstring out;
      for (size_t i = 0; i < maxChars; ++i) {
        const size_t p = at + i * (wide ? 2 : 1);
        if (p + (wide ? 2 : 1) > b.size()) return std::nullopt;
        const wchar_t c = wide ? static_cast<wchar_t>(static_cast<unsigned char>(b[p]) | (static_cast<unsigned char>(b[p + 1]) << 8))
                               : static_cast<wchar_t>(static_cast<unsigned char>(b[p]));
        if (c == 0) return out;
        out.push_back(c);
      }
      return out;
    };
    const auto ansi = [](const std::wstring& bytes) {
      std::string narrow(bytes.begin(), bytes.end());
      std::wstring wide(narrow.size(), L'\0');
      wide.resize(MultiByteToWideChar(CP_ACP, 0, narrow.data(), static_cast<int>(narrow.size()), wide.data(),
                                      static_cast<int>(wide.size())));
      return wide;
    };
    std::vector<std::wstring> names;
    if (kind == kNameW || kind == kNameA) {
      auto name = text(0, SIZE_MAX - 1, kind == kNameW);
      if (!name) return std::nullopt;
      names.push_back(kind == kNameA ? ansi(*name) : *name);
      return names;
    }
    if (kind == kDescriptorW || kind == kDescriptorA) {
      const bool wide = kind == kDescriptorW;
      const size_t each = wide ? sizeof(FILEDESCRIPTORW) : sizeof(FILEDESCRIPTORA);
      if (b.size() < 4) return std::nullopt;
      uint32_t count;
      memcpy(&count, b.data(), 4);
      if (count > (b.size() - 4) / each) return std::nullopt;
      for (uint32_t i = 0; i < count; ++i) {
        // cFileName: MAX_PATH characters at the end of the descriptor, ended by a NUL or by its size.
        const size_t at = 4 + i * each + (each - MAX_PATH * (wide ? 2 : 1));
        const std::wstring name = text(at, MAX_PATH, wide).value_or(L"");  // inside: the descriptor fits
        names.push_back(wide ? name : ansi(name));
      }
      return names;
    }
    // DROPFILES: pFiles, pt, fNC, fWide; then paths, each ended by a NUL, and an empty one at the end.
    if (b.size() < sizeof(DROPFILES)) return std::nullopt;
    DROPFILES header;
    memcpy(&header, b.data(), sizeof header);
    if (header.pFiles < sizeof(DROPFILES) || header.pFiles > b.size()) return std::nullopt;
    const bool wide = header.fWide != 0;
    for (size_t at = header.pFiles;;) {
      auto path = text(at, SIZE_MAX - 1, wide);
      if (!path) return std::nullopt;
      if (path->empty()) return names;
      at += (path->size() + 1) * (wide ? 2 : 1);
      names.push_back(wide ? *path : ansi(*path));
    }
  }
};

}  // namespace

std::unique_ptr<Target> MakeFileListTarget() { return std::make_unique<FileListTarget>(); }

}  // namespace qortest::fuzz
