// LD_PRELOAD shim standing in for a disk that really flushes its cache: every fsync,
// fdatasync, syncfs, sync and msync(MS_SYNC) sleeps VG_SYNC_DELAY_US microseconds
// (default 5000) before the real call, and the number of calls is printed to stderr
// (or appended to VG_SYNC_COUNT_FILE) when the process ends.
//
//   cc -O2 -shared -fPIC -o sync_delay.so bench/sync_delay.c -ldl
//   LD_PRELOAD=./sync_delay.so vellumguard-cli protect ...
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

static atomic_long g_calls;

static void Delay(void) {
  static long us = -1;
  if (us < 0) {
    const char* v = getenv("VG_SYNC_DELAY_US");
    us = v ? atol(v) : 5000;
  }
  atomic_fetch_add(&g_calls, 1);
  struct timespec ts = {us / 1000000, (us % 1000000) * 1000};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

int fsync(int fd) {
  Delay();
  return REAL("fsync", int (*)(int))(fd);
}
int fdatasync(int fd) {
  Delay();
  return REAL("fdatasync", int (*)(int))(fd);
}
int syncfs(int fd) {
  Delay();
  return REAL("syncfs", int (*)(int))(fd);
}
void sync(void) {
  Delay();
  REAL("sync", void (*)(void))();
}
int msync(void* addr, size_t length, int flags) {
  if (flags & MS_SYNC) Delay();
  return REAL("msync", int (*)(void*, size_t, int))(addr, length, flags);
}

__attribute__((destructor)) static void Report(void) {
  const char* path = getenv("VG_SYNC_COUNT_FILE");
  FILE* f = path ? fopen(path, "a") : NULL;
  fprintf(f ? f : stderr, "sync calls: %ld\n", atomic_load(&g_calls));
  if (f) fclose(f);
}
