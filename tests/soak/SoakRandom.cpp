#include "soak/SoakRandom.h"

#include <chrono>
#include <cstdlib>
#include <string>

namespace bramvell::testing {

namespace {

constexpr uint64_t kDefaultSeed = 20261208;

}  // namespace

uint64_t SoakSeed() {
    const char* text = std::getenv("BRAMVELL_SOAK_SEED");
    if (text == nullptr || *text == '\0') {
        return kDefaultSeed;
    }
    if (std::string(text) == "random") {
        return static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               std::random_device{}();
    }
    return std::strtoull(text, nullptr, 0);
}

}  // namespace bramvell::testing
