#include "engine/random_pool.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "common/fd_io.h"
#include "engine/digest.h"

namespace {

// Last resort when the kernel's generator cannot be reached at all: the high-resolution
// clock, the source the pool was first designed around.
size_t ClockEntropy(uint8_t* buf, size_t wanted) {
  const uint64_t ticks =
      static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count());
  const size_t n = wanted < sizeof ticks ? wanted : sizeof ticks;
  std::memcpy(buf, &ticks, n);
  return n;
}

size_t DevURandomEntropy(uint8_t* buf, size_t wanted) {
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  const ssize_t n = ReadSome(fd, buf, wanted);
  ::close(fd);  // read-only
  return n > 0 ? static_cast<size_t>(n) : 0;
}

size_t GetRandomEntropy(uint8_t* buf, size_t wanted) {
  for (;;) {
    const ssize_t n = ::getrandom(buf, wanted, 0);
    if (n > 0) return static_cast<size_t>(n);
    if (n < 0 && errno == EINTR) continue;
    return 0;  // ENOSYS on very old kernels, or a sandbox that forbids the call
  }
}

// A forked child must never hand out the bytes its parent will also hand out: a fork
// empties every stock of the child.
std::atomic<unsigned> g_forks{0};
void CountFork() {
  g_forks.fetch_add(1, std::memory_order_relaxed);
}

// Every pool draws 520 bytes when it starts, and a run starts one for every file: the
// kernel's bytes come through a per-thread stock, one call for a few dozen pools. Bytes
// handed out are wiped from the stock.
struct EntropyStock {
  uint8_t bytes[16384];
  size_t left = 0;
  unsigned forks = 0;
  ~EntropyStock() { SecureZero(bytes, sizeof bytes); }
};

size_t StockedKernelEntropy(uint8_t* buf, size_t wanted) {
  static const bool registered = [] { return pthread_atfork(nullptr, nullptr, &CountFork) == 0; }();
  thread_local EntropyStock stock;
  const unsigned forks = g_forks.load(std::memory_order_relaxed);
  if (!registered) return GetRandomEntropy(buf, wanted);
  if (stock.forks != forks) {
    SecureZero(stock.bytes, sizeof stock.bytes);
    stock.left = 0;
    stock.forks = forks;
  }
  if (stock.left == 0) stock.left = GetRandomEntropy(stock.bytes, sizeof stock.bytes);
  if (stock.left == 0) return 0;
  const size_t n = wanted < stock.left ? wanted : stock.left;
  uint8_t* from = stock.bytes + (stock.left - n);
  std::memcpy(buf, from, n);
  SecureZero(from, n);
  stock.left -= n;
  return n;
}

}  // namespace

size_t KernelEntropy(uint8_t* buf, size_t wanted) {
  if (wanted == 0) return 0;
  const size_t got = StockedKernelEntropy(buf, wanted);
  if (got > 0) return got;
  const size_t n = DevURandomEntropy(buf, wanted);
  return n > 0 ? n : ClockEntropy(buf, wanted);
}

CRandomPool::~CRandomPool() {
  SecureZero(m_random, sizeof m_random);
  SecureZero(m_output, sizeof m_output);
  SecureZero(&m_position, sizeof m_position);
  SecureZero(&m_entropy, sizeof m_entropy);
}

void CRandomPool::Init(EntropyProc entropy) {
  SecureZero(m_random, sizeof m_random);
  SecureZero(m_output, sizeof m_output);
  m_position = 0;
  m_entropy = entropy ? entropy : &KernelEntropy;
  Refresh();
  for (int i = 0; i < 20; ++i) Mix(m_random);
  Refresh();
  m_position = 0;
}

void CRandomPool::Refresh() {
  std::memcpy(m_output, m_random, kPoolSize);
  size_t filled = 0;
  while (filled < kPoolSize) {
    const size_t wanted = kPoolSize - filled;
    size_t n = m_entropy(m_random + filled, wanted);
    // A callback that delivers nothing (or claims more than asked) must not stall or
    // overrun the pool.
    if (n == 0 || n > wanted) n = ClockEntropy(m_random + filled, wanted);
    filled += n;
  }
  for (size_t i = 0; i < kPoolSize; ++i) m_random[i] ^= static_cast<uint8_t>(~m_output[i]);
  Mix(m_random);
  Mix(m_output);
}

void CRandomPool::Mix(uint8_t* pool) {
  uint8_t state[20];
  uint8_t block[64];
  for (size_t i = 0; i < kPoolSize; i += 20) {
    const size_t before = i == 0 ? kPoolSize - 20 : i - 20;
    std::memcpy(state, pool + before, 20);
    // The block runs on from position i and wraps to the start of the pool.
    const size_t first = kPoolSize - i < 64 ? kPoolSize - i : 64;
    std::memcpy(block, pool + i, first);
    std::memcpy(block + first, pool, 64 - first);
    Sha1CompressLe(state, block);
    std::memcpy(pool + i, state, 20);
  }
  SecureZero(state, sizeof state);
  SecureZero(block, sizeof block);
}

void CRandomPool::Generate(uint8_t* out, size_t n) {
  if (m_entropy == nullptr) Init();  // a pool used without Init still draws real entropy
  while (n > 0) {
    if (m_position >= kPoolSize) {
      Refresh();
      m_position = 0;
    }
    size_t take = kPoolSize - m_position;
    if (take > n) take = n;
    std::memcpy(out, m_output + m_position, take);
    m_position += take;
    out += take;
    n -= take;
  }
}

void GenerateRandomBytes(uint8_t* out, size_t n) {
  CRandomPool pool;
  pool.Init();
  pool.Generate(out, n);
}
