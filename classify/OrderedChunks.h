#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace bramvell {

// What one chunk of a batch gives: text for standard output, complaints, and how many of its items
// failed.
struct ChunkText {
    std::string out;
    std::string err;
    std::size_t failed = 0;
};

// Runs a batch of `items` in chunks of consecutive items on `jobs` threads (1: all on the calling
// thread). Each thread makes its own worker with makeWorker (on the calling thread, before any work
// starts, so that what a worker holds is set up in one place) and hands it chunks [first, first +
// count). `write` receives each chunk's text on the calling thread, in the order of the items, as soon
// as it and every chunk before it are done. Returns the sum of the chunks' `failed`.
class OrderedChunks {
  public:
    using Worker = std::function<void(std::size_t first, std::size_t count, ChunkText& text)>;
    using WorkerFactory = std::function<Worker()>;
    using Write = std::function<void(std::string_view out, std::string_view err)>;

    static constexpr std::size_t kChunkItems = 32;  // small chunks keep the threads evenly busy

    static std::size_t Run(std::size_t items, int jobs, const WorkerFactory& makeWorker, const Write& write);
};

}  // namespace bramvell
