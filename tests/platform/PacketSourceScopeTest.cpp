#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/linux/NfqueuePacketSource.h"
#include "runtime/CoreWiring.h"

namespace bramvell {
namespace {

// Whose connections the real packet source takes: root's run everyone's or the named user's, an
// ordinary user's run its own whatever it asks for.
TEST(PacketSourceScopeTest, RootChoosesAndAnOrdinaryUserAlwaysGetsItsOwn) {
    constexpr uint32_t kNamedUser = 4321;
    struct Case {
        std::optional<uint32_t> onlyUser;
        std::optional<uint32_t> rootGets;
    };
    const Case cases[] = {{std::nullopt, std::nullopt}, {kNamedUser, kNamedUser}, {0, 0}};
    for (const Case& c : cases) {
        const auto source = CreatePacketSource(false, c.onlyUser);
        const auto* nfqueue = dynamic_cast<const NfqueuePacketSource*>(source.get());
        ASSERT_NE(nfqueue, nullptr);
        const NfqueueOptions& options = nfqueue->Options();
        const std::optional<uint32_t> expected = geteuid() == 0 ? c.rootGets : geteuid();
        EXPECT_EQ(options.ownerUid, expected);
        EXPECT_EQ(options.outboundChain, NfqueueOptionsFor(expected).outboundChain);
        EXPECT_EQ(options.queueNumber, NfqueueOptionsFor(expected).queueNumber);
    }
}

}  // namespace
}  // namespace bramvell
