#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdio>

namespace bramvell {

// Draws "[####    ] done/total" on stderr when it is a terminal, redrawing only when the bar moves.
class ProgressBar {
  public:
    ProgressBar() : enabled_(::isatty(STDERR_FILENO) != 0) {}

    void Show(std::size_t done, std::size_t total) {
        if (!enabled_ || total == 0) {
            return;
        }
        const int filled = static_cast<int>(done * kWidth / total);
        if (filled == lastFilled_ && done != total) {
            return;
        }
        lastFilled_ = filled;
        std::fprintf(stderr, "\r[%.*s%.*s] %zu/%zu", filled, kBar, kWidth - filled, kSpace, done, total);
        if (done == total) {
            std::fputc('\n', stderr);
        }
        std::fflush(stderr);
    }

  private:
    static constexpr int kWidth = 40;
    static constexpr const char* kBar = "########################################";
    static constexpr const char* kSpace = "                                        ";
    bool enabled_;
    int lastFilled_ = -1;
};

}  // namespace bramvell
