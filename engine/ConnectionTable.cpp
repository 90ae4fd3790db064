#include "engine/ConnectionTable.h"

namespace bramvell {

Pop3Connection* ConnectionTable::Find(const IpAddress& clientAddress, uint16_t clientPort,
                                      const IpAddress& serverAddress) const {
    if (clientPort == 0) {
        return nullptr;
    }
    // Frames come in runs of one connection; keys are unique, so the last match can be tried first.
    const std::size_t last = lastFound_;
    if (ports_[last] == clientPort && addresses_[last].client == clientAddress &&
        addresses_[last].server == serverAddress) {
        return slots_[last].get();
    }
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (ports_[i] == clientPort && addresses_[i].client == clientAddress &&
            addresses_[i].server == serverAddress) {
            lastFound_ = i;
            return slots_[i].get();
        }
    }
    return nullptr;
}

void ConnectionTable::Rekey(const Pop3Connection* connection) {
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (slots_[i].get() == connection) {
            ports_[i] = connection->clientPort;
            addresses_[i] = {connection->clientAddress, connection->serverAddress};
        }
    }
}

Pop3Connection* ConnectionTable::Create(const IpAddress& clientAddress, uint16_t clientPort,
                                        const IpAddress& serverAddress) {
    for (std::size_t i = kSlots; i-- > 0;) {
        if (!slots_[i]) {
            slots_[i] = std::make_unique<Pop3Connection>();
            Pop3Connection& connection = *slots_[i];
            connection.clientPort = clientPort;
            connection.clientAddress = clientAddress;
            connection.serverAddress = serverAddress;
            ports_[i] = clientPort;
            addresses_[i] = {clientAddress, serverAddress};
            return &connection;
        }
    }
    return nullptr;
}

int MinutesSinceClose(int closedAtMinute, int currentMinute) {
    int elapsed = currentMinute + 1 - closedAtMinute;
    if (closedAtMinute > currentMinute + 1) {
        elapsed += 60;
    }
    return elapsed;
}

void ConnectionTable::SweepClosed(int currentMinute) {
    for (auto& slot : slots_) {
        if (slot && slot->closedAtMinute > 0 && MinutesSinceClose(slot->closedAtMinute, currentMinute) > 2) {
            slot.reset();
            const auto index = static_cast<std::size_t>(&slot - slots_.data());
            ports_[index] = 0;
            addresses_[index] = {};
        }
    }
}

void ConnectionTable::Free(const Pop3Connection* connection) {
    for (std::size_t i = 0; i < kSlots; ++i) {
        if (slots_[i].get() == connection) {
            slots_[i].reset();
            ports_[i] = 0;
            addresses_[i] = {};
        }
    }
}

void ConnectionTable::FreeAll() {
    for (auto& slot : slots_) {
        slot.reset();
    }
    ports_.fill(0);
    addresses_.fill({});
}

std::size_t ConnectionTable::Count() const {
    std::size_t count = 0;
    for (const auto& slot : slots_) {
        count += slot ? 1 : 0;
    }
    return count;
}

}  // namespace bramvell
