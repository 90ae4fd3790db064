#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/PacketSource.h"

namespace bramvell {

// The machine's interfaces in if_nameindex() order, named as `ip link` shows them; the handle of
// each is its interface index.
std::vector<AdapterInfo> ListNetworkInterfaces();

// The interface index of the IPv4 default route with the lowest metric, or 0 when there is none.
unsigned DefaultRouteInterfaceIndex();

// The interface name of the best default route in the text of /proc/net/route, or an empty string.
// Lines that do not parse are skipped.
std::string DefaultRouteInterfaceName(std::string_view routeTable);

// The position of the interface with this index in the list, or -1.
int AdapterPosition(const std::vector<AdapterInfo>& adapters, unsigned interfaceIndex);

}  // namespace bramvell
