// The storage of the program's thread_local variables (and of the C++ runtime's per-thread exception
// state), replacing the toolchain's emulated-TLS runtime. Its own (libgcc's emutls) keeps the variables
// through the POSIX threads library, whose thread, key, condition and read-write-lock objects it brings
// into the program: some 24 KB for one per-thread array. Here the array hangs off a fiber-local slot,
// whose callback frees it when the thread ends.
//
// The compiler calls __emutls_get_address(&control) for every access to a thread_local; the control
// object holds the variable's size, alignment, initial image (null: zero-filled) and, once assigned,
// its index. The layout and the two entry points are the toolchain's ABI (gcc's libgcc/emutls.c).
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct EmutlsObject {
  size_t size;
  size_t align;
  uintptr_t index;  // 0 until the variable is first used; then its place (from 1) in every array
  const void* templ;
};

// Per thread: count, then count variable pointers (null until the thread first uses the variable).
struct ThreadArray {
  uintptr_t count;
  void* variables[1];
};

SRWLOCK g_assignLock = SRWLOCK_INIT;
DWORD g_slot = FLS_OUT_OF_INDEXES;
uintptr_t g_assigned = 0;

// A variable block is allocated with room to align it; the pointer malloc gave sits just before it.
void* AllocateVariable(const EmutlsObject& object) {
  const size_t align = object.align > sizeof(void*) ? object.align : sizeof(void*);
  void* raw = std::malloc(object.size + align + sizeof(void*));
  if (!raw) std::abort();  // as the toolchain's runtime does: there is no way to report it
  const uintptr_t start = (reinterpret_cast<uintptr_t>(raw) + sizeof(void*) + align - 1) & ~(uintptr_t{align} - 1);
  void* variable = reinterpret_cast<void*>(start);
  static_cast<void**>(variable)[-1] = raw;
  if (object.templ)
    std::memcpy(variable, object.templ, object.size);
  else
    std::memset(variable, 0, object.size);
  return variable;
}

void NTAPI FreeThreadArray(void* data) {
  auto* array = static_cast<ThreadArray*>(data);
  if (!array) return;
  for (uintptr_t i = 0; i < array->count; ++i)
    if (array->variables[i]) std::free(static_cast<void**>(array->variables[i])[-1]);
  std::free(array);
}

uintptr_t AssignIndex(EmutlsObject& object) {
  AcquireSRWLockExclusive(&g_assignLock);
  if (g_slot == FLS_OUT_OF_INDEXES) {
    g_slot = FlsAlloc(FreeThreadArray);
    if (g_slot == FLS_OUT_OF_INDEXES) std::abort();
  }
  uintptr_t index = object.index;
  if (index == 0) {
    index = ++g_assigned;
    // Published after the slot exists: a thread that sees the index also sees the slot.
    __atomic_store_n(&object.index, index, __ATOMIC_RELEASE);
  }
  ReleaseSRWLockExclusive(&g_assignLock);
  return index;
}

}  // namespace

extern "C" void* __emutls_get_address(void* control) {
  auto& object = *static_cast<EmutlsObject*>(control);
  uintptr_t index = __atomic_load_n(&object.index, __ATOMIC_ACQUIRE);
  if (index == 0) index = AssignIndex(object);
  auto* array = static_cast<ThreadArray*>(FlsGetValue(g_slot));
  const uintptr_t count = array ? array->count : 0;
  if (index > count) {
    const uintptr_t grown = index + 32;
    auto* larger = static_cast<ThreadArray*>(
        std::realloc(array, sizeof(ThreadArray) + (grown - 1) * sizeof(void*)));
    if (!larger) std::abort();
    std::memset(larger->variables + count, 0, (grown - count) * sizeof(void*));
    larger->count = grown;
    FlsSetValue(g_slot, larger);
    array = larger;
  }
  void*& variable = array->variables[index - 1];
  if (!variable) variable = AllocateVariable(object);
  return variable;
}

// For thread_local variables that the compiler emits as common symbols: the largest size and alignment
// asked for win.
extern "C" void __emutls_register_common(void* control, size_t size, size_t align, void* templ) {
  auto& object = *static_cast<EmutlsObject*>(control);
  if (object.size < size) {
    object.size = size;
    object.templ = nullptr;
  }
  if (object.align < align) object.align = align;
  if (templ && size == object.size) object.templ = templ;
}
