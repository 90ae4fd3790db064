#pragma once

namespace bramvell {

// For the corpus commands, which make tens of thousands of small blocks (the word tables) and buffers of
// tens of megabytes (a learning batch), freed and made again batch after batch. The heap keeps what is
// freed instead of returning it to the system, so the next batch does not fault its pages in again, and
// it is grown in one step and marked for huge pages: loading the tables takes a third less time. Only a
// hint; nothing depends on it.
void PrepareHeapForLargeBuffers();

}  // namespace bramvell
