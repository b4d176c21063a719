#pragma once
// Deflate of large files on several cores, internal to the file codec. The file is cut
// into pieces that are deflated at once, each primed with the 32 KiB before it as its
// dictionary and ended with a sync flush (the last with the finish), so that the pieces
// joined behind one zlib header, with the Adler-32 of the whole file behind them, are one
// zlib stream like any other: the file format does not change, only which bytes deflate
// picks.
#include <cstdint>

#include "common/sys_error.h"
#include "engine/file_codec.h"

class CEncryptedStream;

namespace vg::codec {

class SourceFile;

// How many cores to deflate a file of total bytes on in pieces: none (0) for stored
// files and for small files at the levels zlib deflates, which stream through one
// deflate instead; one for small files at the levels ISA-L deflates, whose deflate works
// in pieces only.
unsigned PieceDeflateThreads(int level, uint64_t total, bool zlibOnly);

struct DeflateOutcome {
  int result = CODEC_OK;  // a CodecResult
  SysError error;         // with CODEC_IO_ERROR: the failed read or write
};

// Reads source to its end and writes the zlib stream into stream (keyed, magic written),
// deflating threads pieces at a time. Progress is reported per piece: total, plain bytes
// done, the piece's size. Every buffer that held plain text is wiped before it is freed.
// destination names the stream's file for errors.
DeflateOutcome DeflateInPieces(SourceFile& source, CEncryptedStream& stream,
                               const std::string& destination, int level, bool zlibOnly,
                               ProgressProc progress, void* user, unsigned threads);

}  // namespace vg::codec
