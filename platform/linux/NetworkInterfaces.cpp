#include "platform/linux/NetworkInterfaces.h"

#include <net/if.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <limits>

namespace bramvell {
namespace {

constexpr std::size_t kRouteInterface = 0;
constexpr std::size_t kRouteDestination = 1;
constexpr std::size_t kRouteFlags = 3;
constexpr std::size_t kRouteMetric = 6;
constexpr std::size_t kRouteMask = 7;
constexpr std::size_t kRouteFieldCount = 8;
constexpr unsigned long kRouteFlagUp = 0x1;

// Splits a line at blanks into at most kRouteFieldCount fields; false when there are fewer.
bool SplitRouteLine(std::string_view line, std::string_view (&fields)[kRouteFieldCount]) {
    std::size_t count = 0;
    std::size_t at = 0;
    while (count < kRouteFieldCount) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string_view::npos) {
            return false;
        }
        const std::size_t end = line.find_first_of(" \t", at);
        fields[count++] = line.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        if (end == std::string_view::npos) {
            break;
        }
        at = end;
    }
    return count == kRouteFieldCount;
}

bool ParseNumber(std::string_view text, int base, unsigned long& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<AdapterInfo> ListNetworkInterfaces() {
    std::vector<AdapterInfo> adapters;
    struct if_nameindex* list = if_nameindex();
    if (!list) {
        return adapters;
    }
    for (const struct if_nameindex* entry = list; entry->if_index != 0 && entry->if_name; ++entry) {
        adapters.push_back({entry->if_name, static_cast<AdapterHandle>(entry->if_index)});
    }
    if_freenameindex(list);
    return adapters;
}

std::string DefaultRouteInterfaceName(std::string_view routeTable) {
    std::string best;
    unsigned long bestMetric = std::numeric_limits<unsigned long>::max();
    bool header = true;
    while (!routeTable.empty()) {
        const std::size_t newline = routeTable.find('\n');
        const std::string_view line = routeTable.substr(0, newline);
        routeTable = newline == std::string_view::npos ? std::string_view() : routeTable.substr(newline + 1);
        if (header) {  // "Iface Destination Gateway ..."
            header = false;
            continue;
        }
        std::string_view fields[kRouteFieldCount];
        unsigned long destination = 0;
        unsigned long mask = 0;
        unsigned long flags = 0;
        unsigned long metric = 0;
        if (!SplitRouteLine(line, fields) || !ParseNumber(fields[kRouteDestination], 16, destination) ||
            !ParseNumber(fields[kRouteMask], 16, mask) || !ParseNumber(fields[kRouteFlags], 16, flags) ||
            !ParseNumber(fields[kRouteMetric], 10, metric)) {
            continue;
        }
        if (destination != 0 || mask != 0 || !(flags & kRouteFlagUp) ||
            fields[kRouteInterface].size() >= IF_NAMESIZE) {
            continue;
        }
        if (best.empty() || metric < bestMetric) {
            best = std::string(fields[kRouteInterface]);
            bestMetric = metric;
        }
    }
    return best;
}

unsigned DefaultRouteInterfaceIndex() {
    std::ifstream in("/proc/net/route");
    const std::string table((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = DefaultRouteInterfaceName(table);
    return name.empty() ? 0 : if_nametoindex(name.c_str());
}

int AdapterPosition(const std::vector<AdapterInfo>& adapters, unsigned interfaceIndex) {
    for (std::size_t i = 0; i < adapters.size(); ++i) {
        if (adapters[i].handle == interfaceIndex) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace bramvell
