// Decode on arbitrary protected-file bytes: whatever the input, no crash, no over-read,
// one of the documented result codes, and no output left behind unless it succeeded.
// Every input is restored twice, by the fast engine (ISA-L when built in) and by zlib
// alone: both must give the same result and the same bytes.
// The first input byte picks the mode: even, the rest is the protected file as it is;
// odd, the rest is a payload that follows the magic inside a correctly keyed
// container, so the zlib side sees hostile bytes directly.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/digest.h"
#include "engine/encrypted_stream.h"
#include "engine/file_codec.h"

namespace {

const std::string& Folder() {
  // Never destroyed, so the exit handler below can still use it.
  static const std::string& folder = *new std::string([] {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vg-fuzz-decode-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }());
  static const bool cleanup = std::atexit([] { ::rmdir(Folder().c_str()); }) == 0;
  (void)cleanup;
  return folder;
}

const uint8_t* FuzzKey() {
  static uint8_t key[32];
  static const bool ready = (GuardKeyDigest(key, "fuzz"), true);
  (void)ready;
  return key;
}

bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  while (size > 0) {
    const ssize_t w = ::write(fd, data, size);
    if (w <= 0) {
      ok = false;
      break;
    }
    data += w;
    size -= static_cast<size_t>(w);
  }
  return ::close(fd) == 0 && ok;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::vector<uint8_t> out;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return out;
  uint8_t buf[4096];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
  ::close(fd);
  return out;
}

// A protected file of the given plain bytes, made by Encode with the fuzzing key.
std::vector<uint8_t> Protect(const std::string& plain, int level) {
  const std::string src = Folder() + "/seed-plain";
  const std::string dst = Folder() + "/seed.~de";
  WriteBytes(src, reinterpret_cast<const uint8_t*>(plain.data()), plain.size());
  CFileCodec codec;
  codec.m_bufferSize = 1024;
  codec.m_usePasswordText = 0;
  codec.m_level = level;
  std::memcpy(codec.m_keyDigest, FuzzKey(), 32);
  codec.m_source = src;
  codec.m_destination = dst;
  std::vector<uint8_t> out;
  if (codec.Encode() == CODEC_OK) out = ReadBytes(dst);
  ::unlink(src.c_str());
  ::unlink(dst.c_str());
  return out;
}

// The zlib stream of plain bytes, as it follows the magic inside a protected file.
std::vector<uint8_t> PayloadOf(const std::string& plain, int level) {
  uLongf n = compressBound(plain.size());
  std::vector<uint8_t> out(n);
  if (compress2(out.data(), &n, reinterpret_cast<const Bytef*>(plain.data()), plain.size(),
                level) != Z_OK) {
    return {};
  }
  out.resize(n);
  return out;
}

// A protected file around magic + payload, keyed with the fuzzing key.
bool WriteContainer(const std::string& path, const uint8_t* payload, size_t size) {
  CEncryptedStream stream;
  if (stream.Open(path, STREAM_WRITE, CHAIN_CBC) != 1 || stream.SetKeyDigest(FuzzKey()) != 1) {
    return false;
  }
  if (stream.Write(kCodecMagic, 4) != 4) return false;
  if (stream.Write(payload, size) != static_cast<int64_t>(size)) return false;
  stream.Close();
  return stream.CloseError() == 0;
}

}  // namespace

std::vector<uint8_t> WithMode(uint8_t mode, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> out(1 + body.size(), mode);
  std::copy(body.begin(), body.end(), out.begin() + 1);
  return out;
}

// The replay driver's seed interface returns a C++ type across C linkage on purpose.
#ifdef __clang__
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" size_t LLVMFuzzerSeedCount() {
  return 8;
}

extern "C" std::vector<uint8_t> LLVMFuzzerSeed(size_t index) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "guarded line " + std::to_string(i) + "\n";
  switch (index) {
    case 0:
      return WithMode(0, Protect("", 6));
    case 1:
      return WithMode(0, Protect("short", 6));
    case 2:
      return WithMode(0, Protect(text, 9));
    case 3:
      return WithMode(0, Protect(text.substr(0, 1500), 0));  // stored blocks
    case 4:
      return WithMode(1, PayloadOf(text, 9));
    case 6:
      return WithMode(0, Protect(text, 1));  // deflated by ISA-L when built in
    case 7:
      return WithMode(1, PayloadOf(text, 1));
    default:
      return WithMode(1, PayloadOf(text.substr(0, 700), 0));
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string source = Folder() + "/input.~de";
  const std::string destination = Folder() + "/input";
  if (size == 0) return 0;
  const bool payloadMode = (data[0] & 1) != 0;
  if (!(payloadMode ? WriteContainer(source, data + 1, size - 1)
                    : WriteBytes(source, data + 1, size - 1))) {
    std::abort();
  }
  int results[2];
  std::vector<uint8_t> restored[2];
  for (const bool zlibOnly : {false, true}) {
    CFileCodec codec;
    codec.m_bufferSize = 1024;
    codec.m_usePasswordText = 0;
    codec.m_zlibOnly = zlibOnly;
    std::memcpy(codec.m_keyDigest, FuzzKey(), 32);
    codec.m_source = source;
    codec.m_destination = destination;
    const int result = codec.Decode();
    struct stat st {};
    const bool exists = ::stat(destination.c_str(), &st) == 0;
    switch (result) {
      case CODEC_OK:
        if (!exists) std::abort();
        break;
      case CODEC_IO_ERROR:
      case CODEC_ZLIB_ERROR:
      case CODEC_BAD_KEY:
        if (exists) std::abort();  // failures leave no output
        break;
      default:
        std::abort();
    }
    results[zlibOnly] = result;
    if (exists) restored[zlibOnly] = ReadBytes(destination);
    ::unlink(destination.c_str());
  }
  if (results[0] != results[1] || restored[0] != restored[1]) std::abort();
  ::unlink(source.c_str());
  return 0;
}
