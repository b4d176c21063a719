#include "common/secret_memory.h"

#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <bitset>
#include <mutex>

#include "common/bytes.h"

namespace {

constexpr size_t kSlot = 32;
constexpr size_t kSlots = 128;

// The slots live in the program's own zero-filled data, on pages of their own.
alignas(4096) uint8_t g_slots[kSlot * kSlots];
std::bitset<kSlots> g_taken;
std::mutex g_slotLock;
std::once_flag g_slotsLocked;

}  // namespace

bool KeepSecretsInProcess() {
  const bool notDumpable = ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
  const struct rlimit none { 0, 0 };
  const bool noCore = ::setrlimit(RLIMIT_CORE, &none) == 0;
  return notDumpable && noCore;
}

void LockSecretPages(const void* p, size_t n) {
  if (p == nullptr || n == 0) return;
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  const uintptr_t page = pageSize > 0 ? static_cast<uintptr_t>(pageSize) : 4096;
  const uintptr_t start = reinterpret_cast<uintptr_t>(p) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + n + page - 1) & ~(page - 1);
  void* first = reinterpret_cast<void*>(start);
  if (::mlock(first, end - start) != 0) {
    // Over the limit: these pages may be swapped out, as any others.
  }
  if (::madvise(first, end - start, MADV_DONTDUMP) != 0) {
    // Not supported here: the process dumps nothing anyway (KeepSecretsInProcess).
  }
}

uint8_t* TakeSecretSlot() {
  std::call_once(g_slotsLocked, [] { LockSecretPages(g_slots, sizeof g_slots); });
  std::lock_guard g(g_slotLock);
  for (size_t i = 0; i < kSlots; ++i) {
    if (!g_taken[i]) {
      g_taken[i] = true;
      return g_slots + i * kSlot;
    }
  }
  return nullptr;
}

void ReturnSecretSlot(uint8_t* slot) {
  if (slot == nullptr) return;
  SecureZero(slot, kSlot);
  std::lock_guard g(g_slotLock);
  g_taken[static_cast<size_t>(slot - g_slots) / kSlot] = false;
}
