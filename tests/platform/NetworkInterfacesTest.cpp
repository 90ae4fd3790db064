#include "platform/linux/NetworkInterfaces.h"

#include <gtest/gtest.h>
#include <net/if.h>

namespace bramvell {
namespace {

constexpr const char* kHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

TEST(NetworkInterfacesTest, DefaultRouteWithTheLowestMetricWins) {
    const std::string table = std::string(kHeader) +
                              "wlan0\t00000000\t0102A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                              "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
                              "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    EXPECT_EQ(DefaultRouteInterfaceName(table), "eth0");
}

TEST(NetworkInterfacesTest, RoutesThatAreNotUsableDefaultsAreSkipped) {
    EXPECT_EQ(DefaultRouteInterfaceName(""), "");
    EXPECT_EQ(DefaultRouteInterfaceName(kHeader), "");
    const std::string table =
        std::string(kHeader) +
        "down0\t00000000\t0102A8C0\t0000\t0\t0\t1\t00000000\t0\t0\t0\n"  // not up
        "net0\t0000000A\t00000000\t0001\t0\t0\t1\t000000FF\t0\t0\t0\n"   // a subnet
        "short0\t00000000\t0102A8C0\t0003\n"                             // cut off
        "bad0\t0000zz00\t0102A8C0\t0003\t0\t0\t1\t00000000\t0\t0\t0\n"   // not hex
        "averyveryverylongname0\t00000000\t0\t0003\t0\t0\t1\t00000000\n"
        "\n"
        "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0";  // no newline at end
    EXPECT_EQ(DefaultRouteInterfaceName(table), "ppp0");
}

TEST(NetworkInterfacesTest, AdapterPositionFindsTheHandle) {
    const std::vector<AdapterInfo> adapters{{"lo", 1}, {"eth0", 2}, {"wlan0", 5}};
    EXPECT_EQ(AdapterPosition(adapters, 5), 2);
    EXPECT_EQ(AdapterPosition(adapters, 1), 0);
    EXPECT_EQ(AdapterPosition(adapters, 3), -1);
    EXPECT_EQ(AdapterPosition({}, 0), -1);
}

TEST(NetworkInterfacesTest, ListNamesEachInterfaceWithItsIndex) {
    const std::vector<AdapterInfo> adapters = ListNetworkInterfaces();
    ASSERT_FALSE(adapters.empty());
    for (const AdapterInfo& adapter : adapters) {
        EXPECT_EQ(adapter.handle, if_nametoindex(adapter.name.c_str())) << adapter.name;
    }
}

}  // namespace
}  // namespace bramvell
