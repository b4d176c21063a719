#include "engine/file_codec.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "common/paths.h"
#include "engine/codec_files.h"
#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/key_ops.h"
#include "engine_test_util.h"
#include "tests/common/child_process.h"
#include "tests/common/durable_calls.h"

namespace {

struct Call {
  uint64_t total, done, chunk;
};

struct Recorder {
  std::vector<Call> calls;
  int stopAt = -1;  // call index at which to return zero
};

int Record(uint64_t total, uint64_t done, uint64_t chunk, void* user) {
  auto* r = static_cast<Recorder*>(user);
  r->calls.push_back({total, done, chunk});
  return static_cast<int>(r->calls.size()) - 1 == r->stopAt ? 0 : 1;
}

class FileCodec : public ::testing::Test {
 protected:
  std::string Plain() const { return m_dir.File("report.doc"); }
  std::string Protected() const { return m_dir.File("report.doc.~de"); }
  std::string Restored() const { return m_dir.File("restored.doc"); }

  // A codec set up the way the guard operations use it.
  CFileCodec MakeCodec(const std::string& password = "secret", uint32_t buffer = 1024) {
    CFileCodec c;
    c.m_zlibOnly = m_zlibOnly;
    c.m_bufferSize = buffer;
    c.m_usePasswordText = 0;
    GuardKeyDigest(c.m_keyDigest, password);
    return c;
  }
  int Encode(const Bytes& plain, int level = 6, Recorder* rec = nullptr,
             const std::string& password = "secret") {
    WriteFileBytes(Plain(), plain);
    CFileCodec c = MakeCodec(password);
    c.m_level = level;
    c.m_source = Plain();
    c.m_destination = Protected();
    return c.Encode(rec ? &Record : nullptr, rec);
  }
  int Decode(Recorder* rec = nullptr, const std::string& password = "secret") {
    CFileCodec c = MakeCodec(password);
    c.m_source = Protected();
    c.m_destination = Restored();
    return c.Decode(rec ? &Record : nullptr, rec);
  }
  // A protected file whose payload is given directly.
  void WritePayload(const Bytes& payload, const std::string& password = "secret") {
    uint8_t key[32];
    GuardKeyDigest(key, password);
    CEncryptedStream s;
    ASSERT_EQ(1, s.Open(Protected(), STREAM_WRITE, CHAIN_CBC));
    ASSERT_EQ(1, s.SetKeyDigest(key));
    ASSERT_EQ(static_cast<int64_t>(payload.size()), s.Write(payload.data(), payload.size()));
  }
  // Only the files the test made itself are left in the folder.
  void ExpectNoStrayFiles(const std::vector<std::string>& allowed) {
    for (const auto& name : m_dir.Entries()) {
      EXPECT_NE(allowed.end(), std::find(allowed.begin(), allowed.end(), name)) << name;
    }
  }

  TempFolder m_dir;
  bool m_zlibOnly = false;  // both directions through zlib, even with ISA-L built in
};

Bytes Deflated(const Bytes& plain) {
  uLongf n = compressBound(plain.size());
  Bytes out(n);
  EXPECT_EQ(Z_OK, compress(out.data(), &n, plain.data(), plain.size()));
  out.resize(n);
  return out;
}

Bytes WithMagic(const Bytes& zlibData, uint8_t last = 1) {
  Bytes p(4 + zlibData.size());
  p[0] = 0x41;
  p[1] = 0x45;
  p[2] = 0x53;
  p[3] = last;
  std::copy(zlibData.begin(), zlibData.end(), p.begin() + 4);
  return p;
}

}  // namespace

TEST_F(FileCodec, RoundTripsAtEveryLevelAndAroundBufferSizes) {
  std::mt19937_64 rng(2);
  for (size_t n : {0, 1, 1039, 1040, 1041, 2080, 65536, 300001}) {
    for (int level : {0, 1, 6, 9}) {
      const Bytes plain = (n % 2) ? RandomBytes(rng, n) : TextLikeBytes(rng, n);
      ASSERT_EQ(CODEC_OK, Encode(plain, level)) << n << " level " << level;
      ASSERT_EQ(CODEC_OK, Decode()) << n << " level " << level;
      ASSERT_EQ(plain, ReadFileBytes(Restored()));
    }
  }
  ExpectNoStrayFiles({"report.doc", "report.doc.~de", "restored.doc"});
}

TEST_F(FileCodec, EmptyFileHoldsHeaderMagicAndEmptyZlibStream) {
  ASSERT_EQ(CODEC_OK, Encode({}));
  // 18 header bytes, 4 magic bytes, and zlib's 8-byte stream of empty input.
  EXPECT_EQ(18u + 4 + Deflated({}).size(), ReadFileBytes(Protected()).size());
  ASSERT_EQ(CODEC_OK, Decode());
  EXPECT_TRUE(ReadFileBytes(Restored()).empty());
}

TEST_F(FileCodec, ProgressOfA1040ByteFile) {
  std::mt19937_64 rng(3);
  Recorder enc;
  ASSERT_EQ(CODEC_OK, Encode(RandomBytes(rng, 1040), 6, &enc));
  // A full read without flushing, then an empty read that finishes the stream.
  ASSERT_EQ(2u, enc.calls.size());
  EXPECT_EQ(1040u, enc.calls[0].total);
  EXPECT_EQ(1040u, enc.calls[0].done);
  EXPECT_EQ(1040u, enc.calls[0].chunk);
  EXPECT_EQ(1040u, enc.calls[1].done);
  EXPECT_EQ(0u, enc.calls[1].chunk);

  Recorder dec;
  ASSERT_EQ(CODEC_OK, Decode(&dec));
  const uint64_t payload = ReadFileBytes(Protected()).size() - 18;
  uint64_t sum = 0;
  for (const auto& c : dec.calls) {
    sum += c.chunk;
    EXPECT_EQ(payload + 18, c.total);
    EXPECT_EQ(sum, c.done);
  }
  EXPECT_EQ(payload - 4, sum);  // compressed bytes after the magic
}

TEST_F(FileCodec, CallerBufferSizeIsRoundedAndStoredBack) {
  WriteFileBytes(Plain(), Bytes(5000, 'x'));
  CFileCodec c = MakeCodec();
  c.m_source = Plain();
  c.m_destination = Protected();
  ASSERT_EQ(CODEC_OK, c.Encode());
  EXPECT_EQ(1040u, c.m_bufferSize);
  ASSERT_EQ(CODEC_OK, c.Encode());  // a second run works with the stored size
  EXPECT_EQ(1056u, c.m_bufferSize);
  CFileCodec fresh;
  EXPECT_EQ(4096u, fresh.m_bufferSize);
  EXPECT_EQ(6, fresh.m_level);
  EXPECT_EQ(1, fresh.m_usePasswordText);
}

TEST_F(FileCodec, PasswordTextMode) {
  WriteFileBytes(Plain(), Bytes(3000, 'q'));
  CFileCodec c;
  c.m_password = "Vellumguard";
  c.m_source = Plain();
  c.m_destination = Protected();
  ASSERT_EQ(CODEC_OK, c.Encode());
  CFileCodec d;
  d.m_password = "Vellumguard";
  d.m_source = Protected();
  d.m_destination = Restored();
  ASSERT_EQ(CODEC_OK, d.Decode());
  EXPECT_EQ(Bytes(3000, 'q'), ReadFileBytes(Restored()));
  // An empty password text sets no key: nothing can be written or read.
  CFileCodec e;
  e.m_source = Plain();
  e.m_destination = m_dir.File("other.~de");
  EXPECT_EQ(CODEC_IO_ERROR, e.Encode());
}

TEST_F(FileCodec, WrongKeyCreatesNoOutputAndTheObjectCanRetry) {
  std::mt19937_64 rng(4);
  const Bytes plain = TextLikeBytes(rng, 10000);
  ASSERT_EQ(CODEC_OK, Encode(plain));
  CFileCodec c = MakeCodec("wrong");
  c.m_source = Protected();
  c.m_destination = Restored();
  EXPECT_EQ(CODEC_BAD_KEY, c.Decode());
  EXPECT_FALSE(PathExists(Restored()));
  ExpectNoStrayFiles({"report.doc", "report.doc.~de"});
  GuardKeyDigest(c.m_keyDigest, "secret");
  EXPECT_EQ(CODEC_OK, c.Decode());
  EXPECT_EQ(plain, ReadFileBytes(Restored()));
}

// About one wrong key in 65,536 passes the 16-bit header check; the encrypted magic
// catches those. Search a wrong password that passes the check and expect -7 from it.
TEST_F(FileCodec, MagicCatchesAWrongKeyThatPassesTheHeaderCheck) {
  ASSERT_EQ(CODEC_OK, Encode(Bytes(100, 'z')));
  const Bytes file = ReadFileBytes(Protected());
  std::string found;
  for (int i = 0; i < 2000000 && found.empty(); ++i) {
    const std::string candidate = "try" + std::to_string(i);
    uint8_t key[32], md5[16];
    GuardKeyDigest(key, candidate);
    ComputeDigest(md5, key, 32, 16);
    if ((md5[0] ^ file[2]) == file[0] && (md5[1] ^ file[3]) == file[1]) found = candidate;
  }
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(CODEC_BAD_KEY, Decode(nullptr, found));
  EXPECT_FALSE(PathExists(Restored()));
}

TEST_F(FileCodec, BadPayloads) {
  std::mt19937_64 rng(5);
  const Bytes plain = TextLikeBytes(rng, 50000);
  const Bytes good = WithMagic(Deflated(plain));
  struct Case {
    const char* name;
    Bytes payload;
    int expected;
  } const cases[] = {
      {"another magic byte", WithMagic(Deflated(plain), 2), CODEC_BAD_KEY},
      {"another magic", Bytes{'Z', 'I', 'P', 1, 0x78, 0x9c}, CODEC_BAD_KEY},
      {"magic only", WithMagic({}), CODEC_ZLIB_ERROR},
      {"three bytes", Bytes{0x41, 0x45, 0x53}, CODEC_IO_ERROR},
      {"no payload", Bytes{}, CODEC_IO_ERROR},
      {"truncated", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)),
       CODEC_ZLIB_ERROR},
      {"last byte missing", Bytes(good.begin(), good.end() - 1), CODEC_ZLIB_ERROR},
      {"damaged header",
       [&] {
         Bytes b = good;
         b[4] ^= 0xFF;
         return b;
       }(),
       CODEC_ZLIB_ERROR},
      {"damaged data",
       [&] {
         Bytes b = good;
         b[good.size() / 2] ^= 0x55;
         return b;
       }(),
       CODEC_ZLIB_ERROR},
      {"random bytes", WithMagic(RandomBytes(rng, 3000)), CODEC_ZLIB_ERROR},
      {"preset dictionary", WithMagic(Bytes{0x78, 0xBB, 0, 0, 0, 1, 1, 2, 3}), CODEC_ZLIB_ERROR},
      {"damaged check value",
       [&] {
         Bytes b = good;
         b.back() ^= 0x01;
         return b;
       }(),
       CODEC_ZLIB_ERROR},
      {"random bytes after a good header",
       [&] {
         Bytes b = WithMagic(Bytes{0x78, 0x9c});
         const Bytes noise = RandomBytes(rng, 3000);
         b.insert(b.end(), noise.begin(), noise.end());
         return b;
       }(),
       CODEC_ZLIB_ERROR},
      {"reserved block type", WithMagic(Bytes{0x78, 0x9c, 0x07, 0, 0, 0, 0}), CODEC_ZLIB_ERROR},
      {"stored block length check fails",
       WithMagic(Bytes{0x78, 0x9c, 0x01, 0x05, 0x00, 0xfa, 0xfe, 'a', 'b', 'c', 'd', 'e'}),
       CODEC_ZLIB_ERROR},
      {"distance before the start",
       // Fixed codes: the literal 'a', then length 3 at distance 2 with one byte written.
       WithMagic(Bytes{0x78, 0x9c, 0x4b, 0x04, 0x42, 0x00, 0, 0, 0, 0}), CODEC_ZLIB_ERROR},
  };
  // ISA-L restores when the build has it; zlib must give the same verdicts.
  for (const bool zlibOnly : {false, true}) {
    m_zlibOnly = zlibOnly;
    for (const auto& c : cases) {
      WriteFileBytes(Restored(), Bytes{'o', 'l', 'd'});
      WritePayload(c.payload);
      EXPECT_EQ(c.expected, Decode()) << c.name << (zlibOnly ? " (zlib)" : "");
      // The file that was there before is untouched, and nothing else is left behind.
      EXPECT_EQ((Bytes{'o', 'l', 'd'}), ReadFileBytes(Restored())) << c.name;
      ExpectNoStrayFiles({"report.doc.~de", "restored.doc"});
    }
    // Bytes after the end of the zlib stream are ignored.
    Bytes trailing = good;
    trailing.insert(trailing.end(), 100, 0xEE);
    WritePayload(trailing);
    EXPECT_EQ(CODEC_OK, Decode());
    EXPECT_EQ(plain, ReadFileBytes(Restored()));
    // So is the rest of the payload behind a stream that ends within the first bytes.
    WritePayload(WithMagic(Bytes{0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01, 'x'}));
    EXPECT_EQ(CODEC_OK, Decode());
    EXPECT_TRUE(ReadFileBytes(Restored()).empty());
  }
}

TEST_F(FileCodec, FilesShorterThanTheHeader) {
  for (size_t size : {0, 5, 17}) {
    WriteFileBytes(Protected(), Bytes(size, 0x11));
    EXPECT_EQ(CODEC_BAD_KEY, Decode()) << size;
    EXPECT_FALSE(PathExists(Restored()));
  }
  CFileCodec c = MakeCodec();
  c.m_source = m_dir.File("missing.~de");
  c.m_destination = Restored();
  EXPECT_EQ(CODEC_IO_ERROR, c.Decode());
  // A header that cannot be read is the disk's failure, not a wrong key (the caller would
  // ask for the password again): a regular file whose every read fails with EIO.
  c.m_source = "/proc/self/mem";
  EXPECT_EQ(CODEC_IO_ERROR, c.Decode());
  EXPECT_EQ(EIO, c.LastError().err);
  EXPECT_EQ("/proc/self/mem", c.LastError().path);
  EXPECT_FALSE(PathExists(Restored()));
}

TEST_F(FileCodec, CancelStopsBothDirections) {
  std::mt19937_64 rng(6);
  const Bytes plain = TextLikeBytes(rng, 200000);
  Recorder stopFirst{{}, 0};
  EXPECT_EQ(CODEC_CANCELLED, Encode(plain, 6, &stopFirst));
  EXPECT_EQ(1u, stopFirst.calls.size());

  ASSERT_EQ(CODEC_OK, Encode(plain));
  Recorder stopDecode{{}, 0};
  EXPECT_EQ(CODEC_CANCELLED, Decode(&stopDecode));
  EXPECT_FALSE(PathExists(Restored()));
  Recorder stopLater{{}, 5};
  EXPECT_EQ(CODEC_CANCELLED, Decode(&stopLater));
  EXPECT_EQ(6u, stopLater.calls.size());
  EXPECT_FALSE(PathExists(Restored()));
  ExpectNoStrayFiles({"report.doc", "report.doc.~de"});
}

TEST_F(FileCodec, SourceProblems) {
  CFileCodec c = MakeCodec();
  c.m_source = m_dir.File("missing");
  c.m_destination = Protected();
  EXPECT_EQ(CODEC_IO_ERROR, c.Encode());
  EXPECT_EQ(ENOENT, c.LastError().err);
  EXPECT_EQ(m_dir.File("missing"), c.LastError().path);

  // A FIFO would block a plain open forever.
  ASSERT_EQ(0, ::mkfifo(m_dir.File("fifo").c_str(), 0600));
  c.m_source = m_dir.File("fifo");
  EXPECT_EQ(CODEC_IO_ERROR, c.Encode());

  // A file someone else holds locked is not read (flock locks belong to an open file,
  // so a second open in this process counts as someone else).
  WriteFileBytes(Plain(), Bytes(100, 'a'));
  const int fd = ::open(Plain().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, ::flock(fd, LOCK_SH));
  c.m_source = Plain();
  EXPECT_EQ(CODEC_IO_ERROR, c.Encode());
  EXPECT_EQ(EBUSY, c.LastError().err);
  ::close(fd);
  EXPECT_EQ(CODEC_OK, c.Encode());
  EXPECT_EQ(0, c.LastError().err);
  EXPECT_EQ("", c.LastError().path);

  // Source and destination naming the same file would destroy the source.
  c.m_source = Plain();
  c.m_destination = Plain();
  EXPECT_EQ(CODEC_IO_ERROR, c.Encode());
  EXPECT_EQ(Bytes(100, 'a'), ReadFileBytes(Plain()));
  ASSERT_EQ(0, ::link(Plain().c_str(), m_dir.File("hardlink").c_str()));
  c.m_destination = m_dir.File("hardlink");
  EXPECT_EQ(CODEC_IO_ERROR, c.Encode());
  EXPECT_EQ(Bytes(100, 'a'), ReadFileBytes(Plain()));

  // Level out of range.
  c.m_destination = Protected();
  c.m_level = 10;
  EXPECT_EQ(CODEC_ZLIB_ERROR, c.Encode());
}

// The protected file's final flush happens when the stream closes; a failure there (disk
// full) must make Encode fail, or the caller would wipe a plain file whose protected
// copy is incomplete.
TEST_F(FileCodec, LateWriteFailureIsAnIoError) {
  std::mt19937_64 rng(7);
  WriteFileBytes(Plain(), RandomBytes(rng, 20000));
  auto encode = [&] {
    CFileCodec c = MakeCodec();
    c.m_source = Plain();
    c.m_destination = Protected();
    const int r = c.Encode();
    // The reason and the file come with the failure, for the user's message.
    if (r == CODEC_IO_ERROR && (c.LastError().err != EFBIG || c.LastError().path != Protected())) {
      return 99;
    }
    return -r;
  };
  // No room for the header: a failed write, not a key that does not fit.
  EXPECT_EQ(-CODEC_IO_ERROR, RunWithFileSizeLimit(10, encode));
  // Room for the header only: every payload byte is written by the final flush.
  EXPECT_EQ(-CODEC_IO_ERROR, RunWithFileSizeLimit(100, encode));
  // Room for all but the last bytes.
  EXPECT_EQ(-CODEC_IO_ERROR, RunWithFileSizeLimit(20000, encode));
  // A large file fails during the run.
  WriteFileBytes(Plain(), RandomBytes(rng, 500000));
  EXPECT_EQ(-CODEC_IO_ERROR, RunWithFileSizeLimit(200000, encode));
  EXPECT_EQ(CODEC_OK, RunWithFileSizeLimit(10000000, encode));
}

TEST_F(FileCodec, DecodeWriteFailureRemovesPartialOutput) {
  std::mt19937_64 rng(8);
  const Bytes plain = TextLikeBytes(rng, 400000);
  ASSERT_EQ(CODEC_OK, Encode(plain));
  const int r = RunWithFileSizeLimit(100000, [&] {
    CFileCodec c = MakeCodec();
    c.m_source = Protected();
    c.m_destination = Restored();
    const int result = c.Decode();
    return c.LastError().err == EFBIG && c.LastError().path == Restored() ? -result : 99;
  });
  EXPECT_EQ(-CODEC_IO_ERROR, r);
  ExpectNoStrayFiles({"report.doc", "report.doc.~de"});

  // Output that outgrows the free space (here a small deflate bomb) stops before the
  // file system's last few percent are taken, with the disk-full reason.
  ASSERT_EQ(CODEC_OK, Encode(Bytes(3 * vg::codec::kSpaceCheckEvery, 0)));
  auto freeSpace = [](uint64_t availableBlocks) {
    static uint64_t s_available;
    s_available = availableBlocks;
    // A file system of about 4 GB, of which 2% (20000 blocks) are kept free, whose free
    // space shrinks as the restored file grows.
    vg::codec::SetFreeSpaceProbeForTesting(+[](int fd, struct statvfs* out) {
      struct stat st {};
      if (::fstat(fd, &st) != 0) return -1;
      *out = {};
      out->f_frsize = 4096;
      out->f_blocks = 1000000;
      out->f_bavail = s_available - static_cast<uint64_t>(st.st_size) / 4096;
      return 0;
    });
  };
  freeSpace(21000);  // room for 4 MiB before the kept share, less than the output
  CFileCodec c = MakeCodec();
  c.m_source = Protected();
  c.m_destination = Restored();
  EXPECT_EQ(CODEC_IO_ERROR, c.Decode());
  EXPECT_EQ(ENOSPC, c.LastError().err);
  ExpectNoStrayFiles({"report.doc", "report.doc.~de"});
  freeSpace(30000);
  EXPECT_EQ(CODEC_OK, c.Decode());
  vg::codec::SetFreeSpaceProbeForTesting(nullptr);
  EXPECT_EQ(3 * vg::codec::kSpaceCheckEvery, FileLength(Restored()));
}

// A protected file is synced before Encode reports success (the caller then wipes the
// plain file); a restored file is synced before it takes its name and the folder after.
// A failure at any of those steps is an I/O error that leaves no restored file.
TEST_F(FileCodec, OutputIsSyncedInOrderAndEverySyncFailureIsAnError) {
  std::mt19937_64 rng(9);
  const Bytes plain = TextLikeBytes(rng, 300000);
  {
    DurableCallLog log;
    ASSERT_EQ(CODEC_OK, Encode(plain));
    EXPECT_EQ(log.Steps(), (std::vector<std::string>{"write", "fsync file"}));
  }
  {
    DurableCallLog log;
    ASSERT_EQ(CODEC_OK, Decode());
    EXPECT_EQ(log.Steps(),
              (std::vector<std::string>{"write", "fsync file", "rename", "fsync folder"}));
    EXPECT_EQ(plain, ReadFileBytes(Restored()));
  }
  ASSERT_EQ(0, ::unlink(Restored().c_str()));
  {
    DurableCallLog log("fsync file", EIO);
    EXPECT_EQ(CODEC_IO_ERROR, Encode(plain));
  }
  ASSERT_EQ(CODEC_OK, Encode(plain));
  for (const char* step : {"write", "fsync file", "rename", "fsync folder"}) {
    DurableCallLog log(step, EIO);
    CFileCodec c = MakeCodec();
    c.m_source = Protected();
    c.m_destination = Restored();
    EXPECT_EQ(CODEC_IO_ERROR, c.Decode()) << step;
    EXPECT_EQ(EIO, c.LastError().err) << step;
    // The folder sync's failure names the folder.
    EXPECT_EQ(std::string_view(step) == "fsync folder" ? ParentFolder(Restored()) : Restored(),
              c.LastError().path)
        << step;
    ExpectNoStrayFiles({"report.doc", "report.doc.~de"});
  }
}

// Restored files replace an existing file of the same name only once complete.
TEST_F(FileCodec, DecodeReplacesAnExistingFile) {
  ASSERT_EQ(CODEC_OK, Encode(Bytes(3000, 'n')));
  WriteFileBytes(Restored(), Bytes(10, 'o'));
  ASSERT_EQ(CODEC_OK, Decode());
  EXPECT_EQ(Bytes(3000, 'n'), ReadFileBytes(Restored()));
  ExpectNoStrayFiles({"report.doc", "report.doc.~de", "restored.doc"});
}

// Files of 2 MiB and more are deflated in 512 KiB pieces on several cores and joined
// into one zlib stream: it must decode to the same bytes whatever the piece boundaries,
// report progress that adds up to the file, and stop on a cancel.
TEST_F(FileCodec, LargeFilesDeflatedInPiecesRoundTripAndReportProgress) {
  std::mt19937_64 rng(11);
  constexpr size_t kPiece = 512 * 1024;
  for (size_t n : {size_t{4 * kPiece}, size_t{4 * kPiece + 1}, size_t{9 * kPiece - 1},
                   size_t{5 * 1024 * 1024 + 777}}) {
    for (int level : {1, 6, 9}) {
      Bytes plain = TextLikeBytes(rng, n);
      // A random stretch across a piece boundary, so stored and compressed blocks meet.
      const Bytes noise = RandomBytes(rng, 70000);
      std::copy(noise.begin(), noise.end(), plain.begin() + static_cast<ptrdiff_t>(kPiece - 30000));
      Recorder rec;
      ASSERT_EQ(CODEC_OK, Encode(plain, level, &rec)) << n << " level " << level;
      uint64_t sum = 0;
      for (const auto& call : rec.calls) {
        EXPECT_EQ(n, call.total);
        sum += call.chunk;
        EXPECT_EQ(sum, call.done);
      }
      EXPECT_EQ(n, sum);
      ASSERT_EQ(CODEC_OK, Decode()) << n << " level " << level;
      ASSERT_EQ(plain, ReadFileBytes(Restored())) << n << " level " << level;
    }
  }
  const Bytes plain = TextLikeBytes(rng, 6 * kPiece);
  Recorder stop{{}, 1};
  EXPECT_EQ(CODEC_CANCELLED, Encode(plain, 6, &stop));
  EXPECT_EQ(2u, stop.calls.size());
  ExpectNoStrayFiles({"report.doc", "report.doc.~de", "restored.doc"});
}

// Random data of random compressibility: the fast engine's streams (ISA-L at level 1)
// restore through zlib, and zlib's streams at every level restore through the fast
// engine, byte for byte, piece boundaries included.
TEST_F(FileCodec, EnginesRestoreEachOthersFiles) {
  if (!CFileCodec::FastEngineBuiltIn()) GTEST_SKIP() << "built without ISA-L";
  std::mt19937_64 rng(12);
  constexpr size_t kPiece = 512 * 1024;
  std::vector<size_t> sizes = {
      0, 1, 2, 100, kPiece - 1, kPiece, kPiece + 1, 4 * kPiece - 1, 4 * kPiece, 5 * kPiece + 3};
  for (int i = 0; i < 3; ++i) sizes.push_back(rng() % (6 * kPiece));
  for (const size_t n : sizes) {
    // Stretches of text, noise and runs of one byte, each of random length.
    Bytes plain;
    while (plain.size() < n) {
      const size_t len = std::min<size_t>(n - plain.size(), 1 + rng() % 200000);
      const Bytes part = rng() % 3 == 0   ? RandomBytes(rng, len)
                         : rng() % 2 == 0 ? Bytes(len, static_cast<uint8_t>(rng()))
                                          : TextLikeBytes(rng, len);
      plain.insert(plain.end(), part.begin(), part.end());
    }
    for (int level = 0; level <= 9; ++level) {
      // Levels zlib deflates in either build are worth their time on the smaller sizes.
      if (level > 3 && n > kPiece + 1) continue;
      for (const bool zlibWrites : {false, true}) {
        m_zlibOnly = zlibWrites;
        ASSERT_EQ(CODEC_OK, Encode(plain, level)) << n << " level " << level;
        m_zlibOnly = !zlibWrites;
        ASSERT_EQ(CODEC_OK, Decode()) << n << " level " << level;
        ASSERT_EQ(plain, ReadFileBytes(Restored())) << n << " level " << level;
      }
    }
  }
}

// A re-key keeps the payload byte for byte under a fresh IV and the file's mode and
// times; a wrong old key (the check bytes, or the magic of a key that passes them)
// leaves nothing behind.
TEST_F(FileCodec, RekeyMovesThePayloadUnderTheNewKeyAndAWrongOldKeyLeavesNothing) {
  std::mt19937_64 rng(5);
  const Bytes plain = TextLikeBytes(rng, 3 * 1024 * 1024 + 7);
  ASSERT_EQ(CODEC_OK, Encode(plain, 1));
  ASSERT_EQ(0, ::chmod(Protected().c_str(), 0640));
  const timespec times[2] = {{1000000000, 5}, {1200000000, 7}};
  ASSERT_EQ(0, ::utimensat(AT_FDCWD, Protected().c_str(), times, 0));
  const Bytes before = ReadFileBytes(Protected());
  uint8_t oldKey[32], newKey[32], wrongKey[32];
  GuardKeyDigest(oldKey, "secret");
  GuardKeyDigest(newKey, "new secret");
  GuardKeyDigest(wrongKey, "not it");
  const std::string temp = m_dir.File("rekeyed");
  PayloadCheck wrong = RekeyProtectedFile(Protected(), temp, wrongKey, newKey, false);
  EXPECT_EQ(CODEC_BAD_KEY, wrong.result);
  EXPECT_EQ(before, ReadFileBytes(Protected()));
  ExpectNoStrayFiles({"report.doc", "report.doc.~de"});

  Recorder rec;
  PayloadCheck done = RekeyProtectedFile(Protected(), temp, oldKey, newKey, false, Record, &rec);
  ASSERT_EQ(CODEC_OK, done.result);
  EXPECT_EQ(plain.size(), done.plainSize);
  EXPECT_FALSE(rec.calls.empty());
  EXPECT_EQ(before.size(), rec.calls.back().done + 18);
  const Bytes after = ReadFileBytes(temp);
  ASSERT_EQ(before.size(), after.size());
  EXPECT_FALSE(std::equal(before.begin() + 2, before.begin() + 18, after.begin() + 2));  // IV
  struct stat st {};
  ASSERT_EQ(0, ::stat(temp.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(1200000000, st.st_mtim.tv_sec);
  EXPECT_EQ(7, st.st_mtim.tv_nsec);
  ASSERT_EQ(0, ::rename(temp.c_str(), Protected().c_str()));
  EXPECT_EQ(CODEC_BAD_KEY, Decode(nullptr, "secret"));
  ASSERT_EQ(CODEC_OK, Decode(nullptr, "new secret"));
  EXPECT_EQ(plain, ReadFileBytes(Restored()));

  // A key that passes the check bytes but not the magic is a wrong key too, and a
  // temporary name that is taken is never written through.
  WritePayload(WithMagic(Deflated(plain), 2));
  EXPECT_EQ(CODEC_BAD_KEY, RekeyProtectedFile(Protected(), temp, oldKey, newKey, false).result);
  WriteFileBytes(temp, {1, 2, 3});
  WritePayload(WithMagic(Deflated(plain)));
  const PayloadCheck taken = RekeyProtectedFile(Protected(), temp, oldKey, newKey, false);
  EXPECT_EQ(CODEC_IO_ERROR, taken.result);
  EXPECT_EQ(EEXIST, taken.error.err);
  EXPECT_EQ(Bytes({1, 2, 3}), ReadFileBytes(temp));
}

// A cut or a flipped byte anywhere after the first block (which holds the magic, so a
// fault there reads as a wrong key) is "damaged" at an offset no earlier than the block
// of the fault, through either engine; a damaged file is never re-keyed.
TEST_F(FileCodec, VerifyFindsTruncatedAndFlippedFilesThroughBothEngines) {
  std::mt19937_64 rng(9);
  Bytes plain = TextLikeBytes(rng, 600000);
  const Bytes noise = RandomBytes(rng, 200000);
  plain.insert(plain.end(), noise.begin(), noise.end());
  ASSERT_EQ(CODEC_OK, Encode(plain, 6));
  const Bytes good = ReadFileBytes(Protected());
  uint8_t key[32], newKey[32];
  GuardKeyDigest(key, "secret");
  GuardKeyDigest(newKey, "other");
  for (const bool zlibOnly : {false, true}) {
    PayloadCheck ok = VerifyProtectedFile(Protected(), key, zlibOnly);
    ASSERT_EQ(CODEC_OK, ok.result);
    EXPECT_EQ(plain.size(), ok.plainSize);
    EXPECT_FALSE(ok.stored);
    const std::vector<size_t> cuts = {good.size() - 1, good.size() - 4, good.size() / 2, 40};
    for (const size_t cut : cuts) {
      WriteFileBytes(Protected(), Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
      const PayloadCheck c = VerifyProtectedFile(Protected(), key, zlibOnly);
      EXPECT_EQ(CODEC_ZLIB_ERROR, c.result) << cut;
      // The last partial block of a cut file reads as a tail: garbage up to the cut.
      EXPECT_GE(c.damagedAt + 16, cut) << cut;
      EXPECT_LE(c.damagedAt, cut) << cut;
    }
    for (const size_t at : {size_t{40}, good.size() / 3, good.size() - 20, good.size() - 2}) {
      Bytes flipped = good;
      flipped[at] ^= 0x10;
      WriteFileBytes(Protected(), flipped);
      const PayloadCheck c = VerifyProtectedFile(Protected(), key, zlibOnly);
      EXPECT_EQ(CODEC_ZLIB_ERROR, c.result) << at;
      EXPECT_GE(c.damagedAt + 16, at) << at;  // within the CBC block it garbled, or later
      EXPECT_LE(c.damagedAt, good.size()) << at;
      const std::string temp = m_dir.File("rekeyed");
      EXPECT_EQ(CODEC_ZLIB_ERROR,
                RekeyProtectedFile(Protected(), temp, key, newKey, zlibOnly).result);
      EXPECT_FALSE(PathExists(temp));
      EXPECT_EQ(flipped, ReadFileBytes(Protected()));
    }
    WriteFileBytes(Protected(), good);
  }
}
