// ISA-L's deflate (its levels 1 to 3; the codec uses level 1) and inflate, built only
// with VG_WITH_ISAL.
#include <isa-l/igzip_lib.h>

#include <cstring>
#include <new>

#include "engine/digest.h"
#include "engine/file_codec.h"
#include "engine/zlib_engines.h"

namespace vg::zengine {
namespace {

// Level buffers as ISA-L suggests them for each level.
uint32_t LevelBufferSize(int level) {
  switch (level) {
    case 1:
      return ISAL_DEF_LVL1_DEFAULT;
    case 2:
      return ISAL_DEF_LVL2_DEFAULT;
    default:
      return ISAL_DEF_LVL3_DEFAULT;
  }
}

// Heap memory that is wiped before it is freed (ISA-L's states and buffers hold plain
// text).
template <typename T>
struct Wiped {
  explicit Wiped(size_t n) : p(static_cast<T*>(::operator new(n, std::nothrow))), size(n) {}
  ~Wiped() {
    if (p) SecureZero(p, size);
    ::operator delete(p);
  }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;
  T* p;
  size_t size;
};

class IsalInflater final : public Inflater {
 public:
  explicit IsalInflater(size_t outSize) : m_state(sizeof(inflate_state)), m_out(outSize) {}
  bool Init() {
    if (!m_state.p || !m_out.p) return false;
    std::memset(m_state.p, 0, sizeof(inflate_state));
    isal_inflate_init(m_state.p);
    m_state.p->crc_flag = ISAL_ZLIB;  // parses the zlib header, checks the Adler-32
    return true;
  }
  Step Feed(const uint8_t* in, size_t n, Sink& sink) override {
    inflate_state& s = *m_state.p;
    m_fed = in;
    s.next_in = const_cast<uint8_t*>(in);
    s.avail_in = static_cast<uint32_t>(n);
    for (;;) {
      const uint32_t before = s.avail_in;
      s.next_out = m_out.p;
      s.avail_out = static_cast<uint32_t>(m_out.size);
      if (isal_inflate(&s) != ISAL_DECOMP_OK) return Step::kBad;
      const size_t produced = m_out.size - s.avail_out;
      if (produced > 0 && !sink.Take(m_out.p, produced)) return Step::kSinkFailed;
      // Finished means the check value matched and every byte was handed out.
      if (s.block_state == ISAL_BLOCK_FINISH) return Step::kEnd;
      if (s.avail_out != 0) {
        if (s.avail_in == 0) return Step::kMore;
        // Room left, input left, not finished: ISA-L returns so only on bad data.
        if (produced == 0 && s.avail_in == before) return Step::kBad;
      }
    }
  }

  size_t Consumed() const override { return static_cast<size_t>(m_state.p->next_in - m_fed); }

 private:
  const uint8_t* m_fed = nullptr;
  Wiped<inflate_state> m_state;
  Wiped<uint8_t> m_out;
};

}  // namespace

uint32_t IsalAdler32(uint32_t adler, const uint8_t* p, size_t n) {
  return isal_adler32(adler, p, n);
}

std::unique_ptr<Inflater> MakeIsalInflater(size_t outSize) {
  auto inflater = std::unique_ptr<IsalInflater>(new (std::nothrow) IsalInflater(outSize));
  if (!inflater || !inflater->Init()) return nullptr;
  return inflater;
}

int IsalDeflatePiece(int level, const uint8_t* dictionary, size_t dictionarySize, const uint8_t* in,
                     size_t n, bool last, std::vector<uint8_t>& out) {
  Wiped<isal_zstream> z(sizeof(isal_zstream));
  Wiped<uint8_t> levelBuffer(LevelBufferSize(level));
  if (!z.p || !levelBuffer.p) return CODEC_NO_MEMORY;
  isal_zstream& s = *z.p;
  std::memset(&s, 0, sizeof s);
  isal_deflate_init(&s);
  s.level = static_cast<uint32_t>(level);
  s.level_buf = levelBuffer.p;
  s.level_buf_size = static_cast<uint32_t>(levelBuffer.size);
  s.gzip_flag = IGZIP_DEFLATE;  // raw deflate: the codec writes the zlib wrapper
  s.flush = last ? NO_FLUSH : SYNC_FLUSH;
  s.end_of_stream = last ? 1 : 0;
  if (dictionarySize > 0 &&
      isal_deflate_set_dict(&s, const_cast<uint8_t*>(dictionary),
                            static_cast<uint32_t>(dictionarySize)) != COMP_OK) {
    return CODEC_ZLIB_ERROR;
  }
  // Stored blocks at worst (5 bytes per 64 KiB), the empty block of the sync flush, and
  // room for the block headers.
  try {
    ReserveWiping(out, n + n / 4096 + 1024);
    out.resize(n + n / 4096 + 1024);
  } catch (const std::bad_alloc&) {
    return CODEC_NO_MEMORY;
  }
  s.next_in = const_cast<uint8_t*>(in);
  s.avail_in = static_cast<uint32_t>(n);
  size_t produced = 0;
  for (;;) {
    s.next_out = out.data() + produced;
    s.avail_out = static_cast<uint32_t>(out.size() - produced);
    if (isal_deflate(&s) != COMP_OK) return CODEC_ZLIB_ERROR;
    produced = out.size() - s.avail_out;
    // Room left over means all input is compressed and flushed.
    if (s.avail_out != 0) break;
    std::vector<uint8_t> bigger;
    try {
      bigger.resize(out.size() * 2);
    } catch (const std::bad_alloc&) {
      return CODEC_NO_MEMORY;
    }
    std::memcpy(bigger.data(), out.data(), produced);
    SecureZero(out.data(), out.size());
    out.swap(bigger);
  }
  if (s.avail_in != 0 || (last && s.internal_state.state != ZSTATE_END)) return CODEC_ZLIB_ERROR;
  out.resize(produced);
  return CODEC_OK;
}

}  // namespace vg::zengine
