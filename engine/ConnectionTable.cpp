#include "engine/ConnectionTable.h"

namespace bramvell {

Pop3Connection* ConnectionTable::Find(uint32_t clientAddress, uint16_t clientPort,
                                      uint32_t serverAddress) const {
    for (const auto& slot : slots_) {
        const Pop3Connection* connection = slot.get();
        if (connection != nullptr && connection->clientPort == clientPort &&
            connection->serverPort == kPop3Port && connection->clientAddress == clientAddress &&
            connection->serverAddress == serverAddress) {
            return slot.get();
        }
    }
    return nullptr;
}

Pop3Connection* ConnectionTable::Create(uint32_t clientAddress, uint16_t clientPort, uint32_t serverAddress) {
    for (std::size_t i = kSlots; i-- > 0;) {
        if (!slots_[i]) {
            slots_[i] = std::make_unique<Pop3Connection>();
            Pop3Connection& connection = *slots_[i];
            connection.clientPort = clientPort;
            connection.serverPort = kPop3Port;
            connection.clientAddress = clientAddress;
            connection.serverAddress = serverAddress;
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
        }
    }
}

void ConnectionTable::FreeAll() {
    for (auto& slot : slots_) {
        slot.reset();
    }
}

std::size_t ConnectionTable::Count() const {
    std::size_t count = 0;
    for (const auto& slot : slots_) {
        count += slot ? 1 : 0;
    }
    return count;
}

}  // namespace bramvell
