#include "engine/parallel_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/codec_files.h"
#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/zlib_engines.h"

namespace vg::codec {

namespace {

constexpr size_t kParallelPiece = 512 * 1024;
constexpr size_t kDictionary = 32 * 1024;

// One piece: its plain bytes and the dictionary before it are filled by the reading
// thread; a worker deflates it; the reading thread writes it out after joining the
// worker. No two threads touch a piece at the same time.
struct DeflatePiece {
  // Room for the largest output of either engine and for the dictionary from the start:
  // no buffer that held plain text moves while the file is deflated.
  DeflatePiece() {
    out.reserve(kParallelPiece + kParallelPiece / 64 + 4096);
    dictionary.reserve(kDictionary);
  }
  std::vector<uint8_t> in = std::vector<uint8_t>(kParallelPiece);
  std::vector<uint8_t> out;
  std::vector<uint8_t> dictionary;
  size_t size = 0;
  bool last = false;
  uint32_t adler = 0;
  int result = CODEC_OK;

  void Deflate(int level, bool zlibOnly) {
    result = vg::zengine::DeflatePiece(level, zlibOnly, dictionary.data(), dictionary.size(),
                                       in.data(), size, last, out);
    if (result == CODEC_OK) adler = vg::zengine::Adler32(1, in.data(), size);
  }
  void Wipe() {
    WipeCapacity(in);
    WipeCapacity(out);
    WipeCapacity(dictionary);
  }
};

// The zlib header deflateInit writes for this level (no preset dictionary).
void ZlibHeader(int level, uint8_t out[2]) {
  unsigned header = (Z_DEFLATED + ((15 - 8) << 4)) << 8;
  const unsigned flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  header |= flags << 6;
  header += 31 - (header % 31);
  out[0] = static_cast<uint8_t>(header >> 8);
  out[1] = static_cast<uint8_t>(header & 0xFF);
}

// Deflates pieces[0..count) at once: pieces 1 and up on threads of their own, piece 0
// here. Every thread started is joined before this returns.
void DeflateRound(std::vector<DeflatePiece>& pieces, size_t count, int level, bool zlibOnly) {
  std::vector<std::thread> workers;
  workers.reserve(count);
  try {
    for (size_t i = 1; i < count; ++i) {
      DeflatePiece* piece = &pieces[i];
      workers.emplace_back([piece, level, zlibOnly] { piece->Deflate(level, zlibOnly); });
    }
  } catch (const std::system_error&) {
    // No thread to be had: the remaining pieces are deflated here, one after another.
    for (size_t i = workers.size() + 1; i < count; ++i) pieces[i].Deflate(level, zlibOnly);
  }
  pieces[0].Deflate(level, zlibOnly);
  for (auto& w : workers) w.join();
}

class PieceDeflater {
 public:
  PieceDeflater(CEncryptedStream& stream, const std::string& destination, unsigned threads)
      : m_stream(stream), m_destination(destination), m_pieces(threads) {
    m_tail.reserve(kDictionary);
  }
  ~PieceDeflater() {
    for (auto& p : m_pieces) p.Wipe();
    WipeCapacity(m_tail);
  }
  PieceDeflater(const PieceDeflater&) = delete;
  PieceDeflater& operator=(const PieceDeflater&) = delete;

  DeflateOutcome Run(SourceFile& source, int level, bool zlibOnly, ProgressProc progress,
                     void* user) {
    uint8_t header[2];
    ZlibHeader(level, header);
    if (!Write(header, 2)) return WriteFailed();
    const uint64_t total = source.Length();
    bool finished = false;
    while (!finished) {
      size_t count = 0;
      for (; count < m_pieces.size() && !finished; ++count) {
        if (!ReadPiece(source, m_pieces[count])) return {CODEC_IO_ERROR, source.LastError()};
        finished = m_pieces[count].last;
      }
      DeflateRound(m_pieces, count, level, zlibOnly);
      for (size_t i = 0; i < count; ++i) {
        const DeflatePiece& piece = m_pieces[i];
        if (piece.result != CODEC_OK) return {piece.result, {}};
        if (!Write(piece.out.data(), piece.out.size())) return WriteFailed();
        m_adler = adler32_combine(m_adler, piece.adler, static_cast<z_off_t>(piece.size));
        m_done += piece.size;
        if (progress && progress(total, m_done, piece.size, user) == 0) {
          return {CODEC_CANCELLED, {}};
        }
      }
    }
    const uint8_t trailer[4] = {static_cast<uint8_t>(m_adler >> 24),
                                static_cast<uint8_t>(m_adler >> 16),
                                static_cast<uint8_t>(m_adler >> 8), static_cast<uint8_t>(m_adler)};
    if (!Write(trailer, 4)) return WriteFailed();
    return {};
  }

 private:
  // Fills the piece from the source and keeps its last 32 KiB as the next dictionary.
  bool ReadPiece(SourceFile& source, DeflatePiece& piece) {
    const int64_t n = source.Read(piece.in.data(), kParallelPiece);
    if (n < 0) return false;
    piece.size = static_cast<size_t>(n);
    piece.last = piece.size < kParallelPiece;
    piece.dictionary = m_tail;
    if (piece.size > 0) {
      const size_t keep = std::min(piece.size, kDictionary);
      m_tail.assign(piece.in.begin() + static_cast<ptrdiff_t>(piece.size - keep),
                    piece.in.begin() + static_cast<ptrdiff_t>(piece.size));
    }
    return true;
  }
  bool Write(const uint8_t* p, size_t n) {
    return n == 0 || m_stream.Write(p, n) == static_cast<int64_t>(n);
  }
  DeflateOutcome WriteFailed() const {
    return {CODEC_IO_ERROR, {m_stream.CloseError(), m_destination, "write"}};
  }

  CEncryptedStream& m_stream;
  const std::string& m_destination;
  std::vector<DeflatePiece> m_pieces;
  std::vector<uint8_t> m_tail;  // the last 32 KiB before the next piece
  uLong m_adler = adler32(0L, nullptr, 0);
  uint64_t m_done = 0;
};

}  // namespace

unsigned PieceDeflateThreads(int level, uint64_t total, bool zlibOnly) {
  if (level < 1 || level > 9) return 0;
  if (total < 4 * kParallelPiece) return !zlibOnly && vg::zengine::FastDeflates(level) ? 1 : 0;
  const unsigned cores = std::thread::hardware_concurrency();
  return std::max(1u, std::min(cores, 4u));
}

DeflateOutcome DeflateInPieces(SourceFile& source, CEncryptedStream& stream,
                               const std::string& destination, int level, bool zlibOnly,
                               ProgressProc progress, void* user, unsigned threads) {
  PieceDeflater deflater(stream, destination, threads);
  return deflater.Run(source, level, zlibOnly, progress, user);
}

}  // namespace vg::codec
