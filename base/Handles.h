// RAII owners for Win32 handles and COM interfaces, and a scope guard.
// Every owner is move-only, knows its own empty value, and speaks one vocabulary:
//   get()      the raw handle, still owned
//   reset(h)   release the current handle and own h (default: the empty value)
//   release()  give up ownership and return the raw handle
//   put()      release the current handle and return the address of the slot, to receive a new one
//   operator bool: true when a handle is held
#pragma once
#include <windows.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <utility>

namespace qor {

template <typename Traits>
class UniqueHandle {
 public:
  using pointer = typename Traits::pointer;
  UniqueHandle() noexcept = default;
  explicit UniqueHandle(pointer h) noexcept : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  pointer get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return !Traits::IsEmpty(h_); }
  pointer release() noexcept { return std::exchange(h_, Traits::Empty()); }
  void reset(pointer h = Traits::Empty()) noexcept {
    pointer old = std::exchange(h_, h);
    if (!Traits::IsEmpty(old)) Traits::Close(old);
  }
  pointer* put() noexcept {
    reset();
    return &h_;
  }

 private:
  pointer h_ = Traits::Empty();
};

namespace detail {
template <typename P, P EmptyValue, auto CloseFn>
struct SimpleTraits {
  using pointer = P;
  static constexpr P Empty() noexcept { return EmptyValue; }
  static bool IsEmpty(P h) noexcept { return h == EmptyValue; }
  static void Close(P h) noexcept { CloseFn(h); }
};
// Handles whose failure value is INVALID_HANDLE_VALUE; NULL is treated as empty too.
template <auto CloseFn>
struct InvalidValueTraits {
  using pointer = HANDLE;
  static pointer Empty() noexcept { return INVALID_HANDLE_VALUE; }
  static bool IsEmpty(HANDLE h) noexcept { return h == INVALID_HANDLE_VALUE || h == nullptr; }
  static void Close(HANDLE h) noexcept { CloseFn(h); }
};
inline void CloseHandleFn(HANDLE h) noexcept { ::CloseHandle(h); }
inline void FindCloseFn(HANDLE h) noexcept { ::FindClose(h); }
inline void RegCloseKeyFn(HKEY h) noexcept { ::RegCloseKey(h); }
inline void FreeLibraryFn(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void DeleteObjectFn(HGDIOBJ h) noexcept { ::DeleteObject(h); }
inline void GlobalFreeFn(HGLOBAL h) noexcept { ::GlobalFree(h); }
inline void CoTaskMemFreeFn(void* p) noexcept { ::CoTaskMemFree(p); }
}  // namespace detail

// CreateFileW, CreateToolhelp32Snapshot: empty is INVALID_HANDLE_VALUE.
using FileHandle = UniqueHandle<detail::InvalidValueTraits<detail::CloseHandleFn>>;
using SnapshotHandle = FileHandle;
using FindHandle = UniqueHandle<detail::InvalidValueTraits<detail::FindCloseFn>>;
// OpenProcess, CreateEvent, thread and process handles: empty is NULL.
using KernelHandle = UniqueHandle<detail::SimpleTraits<HANDLE, nullptr, detail::CloseHandleFn>>;
using ProcessHandle = KernelHandle;
using RegKey = UniqueHandle<detail::SimpleTraits<HKEY, nullptr, detail::RegCloseKeyFn>>;
using ModuleHandle = UniqueHandle<detail::SimpleTraits<HMODULE, nullptr, detail::FreeLibraryFn>>;
using GdiObject = UniqueHandle<detail::SimpleTraits<HGDIOBJ, nullptr, detail::DeleteObjectFn>>;
using FontHandle = GdiObject;
using GlobalMemory = UniqueHandle<detail::SimpleTraits<HGLOBAL, nullptr, detail::GlobalFreeFn>>;
// Blocks the shell or COM allocated (item id lists, strings): released with CoTaskMemFree.
using TaskMem = UniqueHandle<detail::SimpleTraits<void*, nullptr, detail::CoTaskMemFreeFn>>;

// A locked global memory block; unlocks on destruction.
class GlobalLockGuard {
 public:
  explicit GlobalLockGuard(HGLOBAL h) noexcept : h_(h), p_(h ? ::GlobalLock(h) : nullptr) {}
  GlobalLockGuard(const GlobalLockGuard&) = delete;
  GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
  ~GlobalLockGuard() {
    if (p_) ::GlobalUnlock(h_);
  }
  void* get() const noexcept { return p_; }

 private:
  HGLOBAL h_;
  void* p_;
};

// A window's device context (GetDC; null for the screen), released with ReleaseDC on destruction.
// Check it before use: GetDC can fail.
class ScopedGetDC {
 public:
  explicit ScopedGetDC(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ScopedGetDC(const ScopedGetDC&) = delete;
  ScopedGetDC& operator=(const ScopedGetDC&) = delete;
  ~ScopedGetDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  HDC get() const noexcept { return dc_; }
  operator HDC() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects a GDI object into a device context for the scope and selects the previous object back on
// destruction, so that the object can be deleted afterwards. Does nothing for a null context or object.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept
      : dc_(dc), old_(dc && object ? ::SelectObject(dc, object) : nullptr) {}
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;
  ~ScopedSelectObject() {
    if (old_ && old_ != HGDI_ERROR) ::SelectObject(dc_, old_);
  }
  // The object that was selected before (null when the selection failed).
  HGDIOBJ previous() const noexcept { return old_ == HGDI_ERROR ? nullptr : old_; }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Owns one reference to a COM interface.
template <typename T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  // Takes a new reference to p.
  explicit ComPtr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) noexcept : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept {
    if (T* old = std::exchange(p_, nullptr)) old->Release();
  }
  // Gives up the reference without releasing it.
  T* release() noexcept { return std::exchange(p_, nullptr); }
  // Releases the current reference; the caller's API writes a new one (already counted) into the slot.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }
  // Adopts a reference that the caller already owns.
  static ComPtr Attach(T* p) noexcept {
    ComPtr r;
    r.p_ = p;
    return r;
  }

 private:
  T* p_ = nullptr;
};

// Runs a callable when the scope ends, unless dismissed.
template <typename F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F f) noexcept : f_(std::move(f)) {}
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  ~ScopeGuard() {
    if (active_) f_();
  }
  void dismiss() noexcept { active_ = false; }

 private:
  F f_;
  bool active_ = true;
};

// A re-entrant lock (critical section) and its scoped holder.
class CriticalSection {
 public:
  CriticalSection() noexcept { ::InitializeCriticalSection(&cs_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  ~CriticalSection() { ::DeleteCriticalSection(&cs_); }
  void Enter() noexcept { ::EnterCriticalSection(&cs_); }
  void Leave() noexcept { ::LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

// A lock that is not re-entrant and needs no start-up: it is constant-initialised, so process-wide state
// that is reached before any module start-up (or from static objects) can be guarded by it. What
// std::mutex gives, without the threads library that std::mutex brings into the program.
class SlimLock {
 public:
  constexpr SlimLock() noexcept = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;
  void Enter() noexcept { ::AcquireSRWLockExclusive(&lock_); }
  void Leave() noexcept { ::ReleaseSRWLockExclusive(&lock_); }
  // Shared holders may hold it together, never with an exclusive one (std::shared_mutex's shared mode).
  void EnterShared() noexcept { ::AcquireSRWLockShared(&lock_); }
  void LeaveShared() noexcept { ::ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

// Holds a CriticalSection or a SlimLock for a scope.
template <class Lock>
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) noexcept : lock_(lock) { lock_.Enter(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;
  ~LockGuard() { lock_.Leave(); }

 private:
  Lock& lock_;
};

// Holds a SlimLock shared for a scope.
class SharedLockGuard {
 public:
  explicit SharedLockGuard(SlimLock& lock) noexcept : lock_(lock) { lock_.EnterShared(); }
  SharedLockGuard(const SharedLockGuard&) = delete;
  SharedLockGuard& operator=(const SharedLockGuard&) = delete;
  ~SharedLockGuard() { lock_.LeaveShared(); }

 private:
  SlimLock& lock_;
};

}  // namespace qor
