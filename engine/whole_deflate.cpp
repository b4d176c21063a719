// libdeflate's side of the deflate engines (zlib_engines.h): a file small enough to be
// held whole in memory is deflated in one call.
#include <libdeflate.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "engine/file_codec.h"
#include "engine/zlib_engines.h"

namespace vg::zengine {

namespace {

// libdeflate's allocator: each block remembers its size and is wiped before it is freed,
// as for zlib's streams.
void* WipingMalloc(size_t n) {
  if (n > UINT_MAX) return nullptr;
  return WipingZalloc(nullptr, 1, static_cast<unsigned>(n));
}

void WipingFree(void* p) {
  WipingZfree(nullptr, p);
}

// One compressor per thread, kept for the next file at the same level: setting one up
// costs more than deflating a small file. It holds positions and lengths of the last
// input, not its bytes.
struct Compressor {
  libdeflate_compressor* c = nullptr;
  int level = 0;
  ~Compressor() {
    if (c) libdeflate_free_compressor(c);
  }
};

libdeflate_compressor* CompressorFor(int level) {
  static std::once_flag allocator;
  std::call_once(allocator, [] { libdeflate_set_memory_allocator(WipingMalloc, WipingFree); });
  thread_local Compressor held;
  if (held.c && held.level == level) return held.c;
  if (held.c) libdeflate_free_compressor(held.c);
  held.c = libdeflate_alloc_compressor(level);
  held.level = level;
  return held.c;
}

}  // namespace

bool WholeDeflateBuiltIn() {
  return true;
}

size_t WholeDeflateBound(size_t n) {
  return libdeflate_zlib_compress_bound(nullptr, n);
}

int WholeDeflate(int level, const uint8_t* in, size_t n, uint8_t* out, size_t outCapacity,
                 size_t& produced) {
  produced = 0;
  if (level < 1 || level > 9 || n > kWholeDeflateMax) return CODEC_ZLIB_ERROR;
  libdeflate_compressor* c = CompressorFor(level);
  if (!c) return CODEC_NO_MEMORY;
  produced = libdeflate_zlib_compress(c, in, n, out, outCapacity);
  return produced > 0 ? CODEC_OK : CODEC_ZLIB_ERROR;
}

}  // namespace vg::zengine
