// Replay driver for fuzz targets when libFuzzer is not available: feeds a deterministic
// series of random inputs and of random mutations of the inputs a target seeds itself
// with (LLVMFuzzerSeed, optional), so every parser sees hostile bytes in every test run.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// A target may provide valid inputs to mutate; weak so targets without seeds still link.
extern "C" __attribute__((weak)) size_t LLVMFuzzerSeedCount();
extern "C" __attribute__((weak)) std::vector<uint8_t> LLVMFuzzerSeed(size_t index);

int main(int argc, char** argv) {
  const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 10000;
  std::mt19937_64 rng(0x5eed);
  std::vector<std::vector<uint8_t>> seeds;
  if (LLVMFuzzerSeedCount && LLVMFuzzerSeed) {
    for (size_t i = 0; i < LLVMFuzzerSeedCount(); ++i) seeds.push_back(LLVMFuzzerSeed(i));
  }
  for (const auto& s : seeds) LLVMFuzzerTestOneInput(s.data(), s.size());
  std::vector<uint8_t> buf;
  for (long r = 0; r < rounds; ++r) {
    if (!seeds.empty() && (r % 4) != 0) {
      buf = seeds[rng() % seeds.size()];
      const int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits && !buf.empty(); ++e) {
        switch (rng() % 4) {
          case 0:
            buf[rng() % buf.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
          case 1:
            buf.resize(rng() % buf.size());
            break;
          case 2:
            buf[rng() % buf.size()] = static_cast<uint8_t>(rng());
            break;
          default: {
            // Plant a large little-endian count somewhere: the classic hostile length.
            const size_t at = rng() % buf.size();
            const uint32_t v = (rng() % 2) ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
            for (size_t k = 0; k < 4 && at + k < buf.size(); ++k)
              buf[at + k] = uint8_t(v >> (8 * k));
          }
        }
      }
    } else {
      buf.resize(rng() % 512);
      for (auto& b : buf) b = static_cast<uint8_t>(rng());
    }
    LLVMFuzzerTestOneInput(buf.data(), buf.size());
  }
  return 0;
}
