#include "platform/linux/NfqueueOptions.h"

namespace bramvell {
namespace {

// Below 1024 are the numbers of runs that filter everyone and of other programs' usual choices.
constexpr uint32_t kUserQueueBase = 1024;
constexpr uint32_t kUserQueueSpan = 65536 - kUserQueueBase;
// A user's mark lives in the upper half of the mark, apart from the everyone run's bit 0x1; its top
// bit is always set so that no user's mark is zero.
constexpr uint32_t kUserMarkTag = 0x8000;
constexpr uint32_t kUserMarkSpan = 0x8000;
constexpr int kUserMarkShift = 16;
constexpr uint32_t kUserMarkMask = 0xffff0000;

}  // namespace

NfqueueOptions NfqueueOptionsFor(std::optional<uint32_t> ownerUid) {
    NfqueueOptions options;
    if (!ownerUid) {
        return options;
    }
    const uint32_t uid = *ownerUid;
    const std::string suffix = "-" + std::to_string(uid);
    options.ownerUid = uid;
    options.queueNumber = static_cast<uint16_t>(kUserQueueBase + uid % kUserQueueSpan);
    options.logGroup = options.queueNumber;
    options.mark = (kUserMarkTag | uid % kUserMarkSpan) << kUserMarkShift;
    options.markMask = kUserMarkMask;
    options.outboundChain += suffix;
    options.inboundChain += suffix;
    options.connectionChain += suffix;
    return options;
}

}  // namespace bramvell
