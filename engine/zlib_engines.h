#pragma once
// The deflate and inflate engines behind the file codec: zlib, and Intel's ISA-L when the
// build has it (VG_WITH_ISAL). ISA-L inflates every zlib stream several times faster and
// deflates level 1 several times faster at nearly the same size; the streams
// either writes are standard zlib streams that both read. Internal to the engine.
//
// Deflate works in pieces: each piece is raw deflate primed with the 32 KiB before it as
// its dictionary and ended with a sync flush (the last piece with the final block), so
// that pieces joined behind a zlib header and followed by the Adler-32 of the whole plain
// text form one zlib stream.
//
// Inflate takes the stream as it is decrypted, in pieces of any size. ISA-L only inflates
// streams whose header zlib accepts with its 32 KiB window and without a preset
// dictionary; any other header goes to zlib, so header checks are always zlib's.
// Whichever engine inflates, the verdict on an input is the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vg::zengine {

// True when ISA-L is built in.
bool FastBuiltIn();

// True when level is deflated by ISA-L in this build (unless the caller asks for zlib):
// level 1 only. At its levels 2 and 3 ISA-L's output is 5 to 6% larger than zlib's on
// executables and libraries (docs/PERFORMANCE.md), so zlib keeps them.
bool FastDeflates(int level);

// zlib's allocator for streams that see plain text (its window and pending buffer hold
// it): each block remembers its size and is wiped before it is freed. For the zalloc and
// zfree of every z_stream the engine starts.
void* WipingZalloc(void* opaque, unsigned items, unsigned size);
void WipingZfree(void* opaque, void* address);

// Adler-32 of p[0..n) continued from adler (1 for a fresh sum).
uint32_t Adler32(uint32_t adler, const uint8_t* p, size_t n);

// Deflates in[0..n) at level 1 to 9 as one piece (see above) into out, replacing its
// contents. dictionary may be empty (dictionarySize 0, the first piece). Uses ISA-L when
// FastDeflates(level) and not zlibOnly. CODEC_OK, CODEC_NO_MEMORY or CODEC_ZLIB_ERROR.
// Buffers that held plain text are wiped before they are freed; out is the caller's.
int DeflatePiece(int level, bool zlibOnly, const uint8_t* dictionary, size_t dictionarySize,
                 const uint8_t* in, size_t n, bool last, std::vector<uint8_t>& out);

// Files up to this size may be deflated whole (below the size deflated in pieces).
inline constexpr size_t kWholeDeflateMax = 2u << 20;

// True when libdeflate is built in (VG_WITH_LIBDEFLATE). It deflates a buffer held whole
// about twice as fast as zlib at the same level and to the same size on text, into a
// standard zlib stream; the codec uses it for small files at zlib's levels.
bool WholeDeflateBuiltIn();
// The output size WholeDeflate needs at most for n bytes of input.
size_t WholeDeflateBound(size_t n);
// Deflates in[0..n), n at most kWholeDeflateMax, at level 1 to 9 into one complete zlib
// stream (header, deflate, Adler-32) in out[0..produced). CODEC_OK, CODEC_NO_MEMORY or
// CODEC_ZLIB_ERROR (also when libdeflate is not built in). Its memory is wiped when freed.
int WholeDeflate(int level, const uint8_t* in, size_t n, uint8_t* out, size_t outCapacity,
                 size_t& produced);

enum class Step {
  kMore,        // all input taken; the stream goes on
  kEnd,         // the stream ended here (any bytes after it are ignored)
  kBad,         // not a valid zlib stream, or its Adler-32 does not match
  kSinkFailed,  // the sink refused bytes; its own error stands
};

// Receives inflated bytes in order; false stops the inflation.
class Sink {
 public:
  virtual bool Take(const uint8_t* p, size_t n) = 0;

 protected:
  ~Sink() = default;
};

class Inflater {
 public:
  virtual ~Inflater() = default;
  // Inflates the next n > 0 bytes of the stream into sink. After anything but kMore the
  // inflater is done and must not be fed again.
  virtual Step Feed(const uint8_t* in, size_t n, Sink& sink) = 0;
  // How many bytes of the last Feed's input the engine had taken when it returned: where
  // a bad stream showed its fault, or where the stream ended.
  virtual size_t Consumed() const = 0;
};

// The inflater for a stream that starts with first[0..n) (the first piece the caller is
// about to Feed): ISA-L when built in, not zlibOnly and the header qualifies; zlib
// otherwise. outSize is the size of the inflater's output buffer. Null when memory runs
// out or the engine fails to start.
std::unique_ptr<Inflater> MakeInflater(const uint8_t* first, size_t n, bool zlibOnly,
                                       size_t outSize);

#ifdef VG_HAVE_ISAL
// ISA-L's side (isal_engines.cpp).
int IsalDeflatePiece(int level, const uint8_t* dictionary, size_t dictionarySize, const uint8_t* in,
                     size_t n, bool last, std::vector<uint8_t>& out);
std::unique_ptr<Inflater> MakeIsalInflater(size_t outSize);
uint32_t IsalAdler32(uint32_t adler, const uint8_t* p, size_t n);
#endif

}  // namespace vg::zengine
