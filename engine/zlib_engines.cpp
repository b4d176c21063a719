#include "engine/zlib_engines.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/digest.h"
#include "engine/file_codec.h"

namespace vg::zengine {

namespace {

// Each block starts with its size, kept a whole alignment unit apart from the block.
constexpr size_t kBlockHeader = alignof(std::max_align_t);

}  // namespace

void* WipingZalloc(void* /*opaque*/, unsigned items, unsigned size) {
  const size_t n = static_cast<size_t>(items) * size;
  if (size != 0 && n / size != items) return nullptr;
  if (n > SIZE_MAX - kBlockHeader) return nullptr;
  auto* block = static_cast<uint8_t*>(std::malloc(kBlockHeader + n));
  if (!block) return nullptr;
  std::memcpy(block, &n, sizeof n);
  return block + kBlockHeader;
}

void WipingZfree(void* /*opaque*/, void* address) {
  if (!address) return;
  uint8_t* block = static_cast<uint8_t*>(address) - kBlockHeader;
  size_t n = 0;
  std::memcpy(&n, block, sizeof n);
  SecureZero(block, kBlockHeader + n);
  std::free(block);
}

namespace {

int ZlibDeflatePiece(int level, const uint8_t* dictionary, size_t dictionarySize, const uint8_t* in,
                     size_t n, bool last, std::vector<uint8_t>& out) {
  z_stream z{};
  z.zalloc = WipingZalloc;
  z.zfree = WipingZfree;
  if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    return CODEC_ZLIB_ERROR;
  }
  if (dictionarySize > 0 &&
      deflateSetDictionary(&z, dictionary, static_cast<uInt>(dictionarySize)) != Z_OK) {
    deflateEnd(&z);
    return CODEC_ZLIB_ERROR;
  }
  try {
    ReserveWiping(out, deflateBound(&z, n) + 64);
    out.resize(deflateBound(&z, n) + 64);
  } catch (const std::bad_alloc&) {
    deflateEnd(&z);
    return CODEC_NO_MEMORY;
  }
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(n);
  size_t produced = 0;
  int r;
  for (;;) {
    z.next_out = out.data() + produced;
    z.avail_out = static_cast<uInt>(out.size() - produced);
    r = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    produced = out.size() - z.avail_out;
    if (r == Z_STREAM_ERROR || r == Z_STREAM_END || z.avail_out != 0) break;
    // deflateBound covers a sync flush too; growing is only a safety net. The old bytes
    // are wiped before the vector lets them go.
    std::vector<uint8_t> bigger;
    try {
      bigger.resize(out.size() * 2);
    } catch (const std::bad_alloc&) {
      deflateEnd(&z);
      return CODEC_NO_MEMORY;
    }
    std::memcpy(bigger.data(), out.data(), produced);
    SecureZero(out.data(), out.size());
    out.swap(bigger);
  }
  // A sync flush repeated with nothing new says Z_BUF_ERROR: the flush was complete.
  if (!last && r == Z_BUF_ERROR && z.avail_in == 0) r = Z_OK;
  deflateEnd(&z);
  if (last ? r != Z_STREAM_END : r != Z_OK) return CODEC_ZLIB_ERROR;
  out.resize(produced);
  return CODEC_OK;
}

class ZlibInflater final : public Inflater {
 public:
  ~ZlibInflater() override {
    if (m_live) inflateEnd(&m_z);
    if (m_out) SecureZero(m_out.get(), m_outSize);
  }
  bool Init(size_t outSize) {
    m_out.reset(new (std::nothrow) uint8_t[outSize]);
    if (!m_out) return false;
    m_outSize = outSize;
    std::memset(&m_z, 0, sizeof m_z);
    m_z.zalloc = WipingZalloc;
    m_z.zfree = WipingZfree;
    m_live = inflateInit(&m_z) == Z_OK;
    return m_live;
  }
  Step Feed(const uint8_t* in, size_t n, Sink& sink) override {
    m_fed = in;
    m_z.next_in = const_cast<Bytef*>(in);
    m_z.avail_in = static_cast<uInt>(n);
    int r;
    do {
      m_z.next_out = m_out.get();
      m_z.avail_out = static_cast<uInt>(m_outSize);
      r = inflate(&m_z, Z_NO_FLUSH);
      if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_MEM_ERROR || r == Z_STREAM_ERROR) {
        return Step::kBad;
      }
      const size_t produced = m_outSize - m_z.avail_out;
      if (produced > 0 && !sink.Take(m_out.get(), produced)) return Step::kSinkFailed;
    } while (m_z.avail_out == 0 && r != Z_STREAM_END);
    return r == Z_STREAM_END ? Step::kEnd : Step::kMore;
  }
  size_t Consumed() const override { return static_cast<size_t>(m_z.next_in - m_fed); }

 private:
  const uint8_t* m_fed = nullptr;
  z_stream m_z;
  bool m_live = false;
  std::unique_ptr<uint8_t[]> m_out;
  size_t m_outSize = 0;
};

#ifdef VG_HAVE_ISAL
// A header that zlib's inflateInit accepts and that asks for no preset dictionary, with
// the 32 KiB window: the only one ISA-L is given, so that every other verdict on a header
// stays zlib's (ISA-L would set a smaller window differently).
bool HeaderForFastInflate(const uint8_t* p, size_t n) {
  if (n < 2) return false;
  const unsigned cmf = p[0], flg = p[1];
  return cmf == 0x78 && ((cmf << 8) | flg) % 31 == 0 && (flg & 0x20) == 0;
}
#endif

}  // namespace

bool FastBuiltIn() {
#ifdef VG_HAVE_ISAL
  return true;
#else
  return false;
#endif
}

bool FastDeflates(int level) {
  return FastBuiltIn() && level == 1;
}

uint32_t Adler32(uint32_t adler, const uint8_t* p, size_t n) {
#ifdef VG_HAVE_ISAL
  return IsalAdler32(adler, p, n);
#else
  // zlib takes at most 4 GiB - 1 per call.
  while (n > 0) {
    const uInt take = n > 0x40000000u ? 0x40000000u : static_cast<uInt>(n);
    adler = static_cast<uint32_t>(adler32(adler, p, take));
    p += take;
    n -= take;
  }
  return adler;
#endif
}

#ifndef VG_HAVE_LIBDEFLATE
bool WholeDeflateBuiltIn() {
  return false;
}

size_t WholeDeflateBound(size_t n) {
  return n;
}

int WholeDeflate(int, const uint8_t*, size_t, uint8_t*, size_t, size_t& produced) {
  produced = 0;
  return CODEC_ZLIB_ERROR;
}
#endif

int DeflatePiece(int level, bool zlibOnly, const uint8_t* dictionary, size_t dictionarySize,
                 const uint8_t* in, size_t n, bool last, std::vector<uint8_t>& out) {
  if (level < 1 || level > 9) return CODEC_ZLIB_ERROR;
#ifdef VG_HAVE_ISAL
  if (!zlibOnly && FastDeflates(level)) {
    return IsalDeflatePiece(level, dictionary, dictionarySize, in, n, last, out);
  }
#else
  (void)zlibOnly;
#endif
  return ZlibDeflatePiece(level, dictionary, dictionarySize, in, n, last, out);
}

std::unique_ptr<Inflater> MakeInflater(const uint8_t* first, size_t n, bool zlibOnly,
                                       size_t outSize) {
#ifdef VG_HAVE_ISAL
  if (!zlibOnly && HeaderForFastInflate(first, n)) return MakeIsalInflater(outSize);
#else
  (void)first;
  (void)n;
  (void)zlibOnly;
#endif
  auto zlib = std::unique_ptr<ZlibInflater>(new (std::nothrow) ZlibInflater);
  if (!zlib || !zlib->Init(outSize)) return nullptr;
  return zlib;
}

}  // namespace vg::zengine
