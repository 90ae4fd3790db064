#pragma once

#include <cstdint>

namespace bramvell {

struct TokenCounts {
    uint32_t spam = 0;  // spam messages the token was seen in
    uint32_t ham = 0;   // good messages the token was seen in
};

struct MessageTotals {
    uint64_t spam = 0;
    uint64_t ham = 0;
};

}  // namespace bramvell
