#pragma once

#include <cstddef>
#include <functional>

#include "classify/PumpCallback.h"

namespace bramvell {

// Failed: learned data could not be written; what was learned before the failing message stays.
enum class CorpusRunStatus { Finished, Stopped, Failed };

// What the corpus tools tell their caller while they run: the pump after every line read, progress
// after every folder entry (entries done, entries in all).
struct CorpusCallbacks {
    PumpCallback pump;
    std::function<void(std::size_t done, std::size_t total)> progress;
};

}  // namespace bramvell
