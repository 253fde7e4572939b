// The random numbers of a randomized session (random_session.h): one generator
// seeded with the session's seed, the same numbers on every platform, so that a
// seed plays the same session everywhere.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stress {

// xoshiro256**, seeded through splitmix64: the same numbers on every platform.
class Rng {
  public:
    explicit Rng(uint64_t seed) {
        for (uint64_t& w : s_) {
            seed += 0x9E3779B97F4A7C15ull;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            w = z ^ (z >> 31);
        }
    }
    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // 0 .. n-1
    uint32_t below(uint32_t n) { return n == 0 ? 0 : (uint32_t)(next() % n); }
    // lo .. hi
    int64_t range(int64_t lo, int64_t hi) { return lo + (int64_t)(next() % (uint64_t)(hi - lo + 1)); }
    bool oneIn(uint32_t n) { return below(n) == 0; }
    template <typename T, size_t N> const T& pick(const T (&items)[N]) { return items[below((uint32_t)N)]; }

  private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

} // namespace stress
