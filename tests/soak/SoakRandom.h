#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace bramvell::testing {

// The soak test's random numbers: one seed makes a whole run, so that a failure can be repeated.
class SoakRandom {
  public:
    explicit SoakRandom(uint64_t seed) : engine_(seed) {}

    uint64_t Next() { return engine_(); }
    // 0 .. n-1 (n > 0).
    uint64_t Below(uint64_t n) { return engine_() % n; }
    // lo .. hi inclusive.
    uint64_t Between(uint64_t lo, uint64_t hi) { return lo + Below(hi - lo + 1); }
    // True with the given chance in a million.
    bool PerMillion(uint32_t chance) { return Below(1000000) < chance; }
    template <typename T>
    T Pick(const std::vector<T>& choices) {
        return choices[Below(choices.size())];
    }

  private:
    std::mt19937_64 engine_;
};

// BRAMVELL_SOAK_SEED when set (a number, or "random" for a fresh one), else a fixed seed so that
// ordinary runs are repeatable.
uint64_t SoakSeed();

}  // namespace bramvell::testing
