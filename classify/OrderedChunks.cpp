#include "classify/OrderedChunks.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "classify/ThreadHeap.h"

namespace bramvell {
namespace {

struct Chunk {
    std::size_t first = 0;
    std::size_t count = 0;
    ChunkText text;
    bool done = false;  // guarded by the run's mutex
};

}  // namespace

std::size_t OrderedChunks::Run(std::size_t items, int jobs, const WorkerFactory& makeWorker,
                               const Write& write) {
    std::vector<Chunk> chunks((items + kChunkItems - 1) / kChunkItems);
    for (std::size_t k = 0; k < chunks.size(); ++k) {
        chunks[k].first = k * kChunkItems;
        chunks[k].count = std::min(kChunkItems, items - chunks[k].first);
    }
    std::size_t failed = 0;
    jobs = std::clamp<int>(jobs, 1, static_cast<int>(std::max<std::size_t>(1, chunks.size())));
    if (jobs == 1) {
        const Worker worker = makeWorker();
        for (Chunk& chunk : chunks) {
            worker(chunk.first, chunk.count, chunk.text);
            write(chunk.text.out, chunk.text.err);
            failed += chunk.text.failed;
            chunk.text = ChunkText{};
        }
        return failed;
    }

    std::vector<Worker> workerOf;
    workerOf.reserve(static_cast<std::size_t>(jobs));
    for (int j = 0; j < jobs; ++j) {
        workerOf.push_back(makeWorker());
    }
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<std::thread> threads;
    threads.reserve(workerOf.size());
    for (const Worker& worker : workerOf) {
        threads.emplace_back([&] {
            AdviseThreadHeapForHugePages();
            for (std::size_t k = next++; k < chunks.size(); k = next++) {
                worker(chunks[k].first, chunks[k].count, chunks[k].text);
                std::lock_guard lock(mutex);
                chunks[k].done = true;
                finished.notify_all();
            }
        });
    }
    for (Chunk& chunk : chunks) {
        {
            std::unique_lock lock(mutex);
            finished.wait(lock, [&chunk] { return chunk.done; });
        }
        write(chunk.text.out, chunk.text.err);
        failed += chunk.text.failed;
        chunk.text = ChunkText{};
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return failed;
}

}  // namespace bramvell
