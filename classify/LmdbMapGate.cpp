#include "classify/LmdbMapGate.h"

#include <cerrno>

namespace bramvell {
namespace {

// Transactions this thread has open, through any gate.
thread_local int openOnThisThread = 0;

}  // namespace

void LmdbMapGate::Opened() {
    const std::lock_guard lock(mutex_);  // held by a change of size under way
    ++open_;
    ++openOnThisThread;
}

void LmdbMapGate::Closed() {
    {
        const std::lock_guard lock(mutex_);
        --open_;
    }
    --openOnThisThread;
    closed_.notify_all();
}

int LmdbMapGate::Resize(MDB_env* env, std::size_t bytes) {
    if (openOnThisThread > 0) {
        return EDEADLK;
    }
    std::unique_lock lock(mutex_);
    closed_.wait(lock, [this] { return open_ == 0; });
    return mdb_env_set_mapsize(env, bytes);
}

}  // namespace bramvell
