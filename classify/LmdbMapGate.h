#pragma once

#include <lmdb.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace bramvell {

// LMDB changes an environment's map size only while no transaction of the process is open. The gate
// counts the open ones; a change of size waits until none is open and keeps new ones from opening
// meanwhile.
class LmdbMapGate {
  public:
    // Around every transaction, on the thread that opens and ends it.
    void Opened();
    void Closed();
    // mdb_env_set_mapsize once no transaction is open; EDEADLK, without waiting, when the calling
    // thread holds one itself (it would wait for ever).
    int Resize(MDB_env* env, std::size_t bytes);

  private:
    std::mutex mutex_;
    std::condition_variable closed_;
    int open_ = 0;
};

}  // namespace bramvell
