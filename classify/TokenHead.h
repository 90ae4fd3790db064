#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace bramvell {

// The first sixteen bytes of a token as two big-endian words, zero past its end: two tokens whose heads
// differ are ordered as their bytes are (the zero padding puts a shorter token first), so most
// comparisons of sorted tokens take one or two word compares.
inline void TokenHeadOf(std::string_view token, uint64_t head[2]) {
    unsigned char first[16] = {};
    std::memcpy(first, token.data(), std::min<std::size_t>(token.size(), sizeof first));
    for (int word = 0; word < 2; ++word) {
        uint64_t bytes = 0;
        std::memcpy(&bytes, first + 8 * word, 8);
        head[word] = __builtin_bswap64(bytes);
    }
}

}  // namespace bramvell
