#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "engine/Pop3Connection.h"

namespace bramvell {

// The filter thread's POP3 records: 100 slots, scanned from slot 0.
class ConnectionTable {
  public:
    static constexpr std::size_t kSlots = 100;

    // The record of the connection between this client address and port and this server address.
    Pop3Connection* Find(const IpAddress& clientAddress, uint16_t clientPort,
                         const IpAddress& serverAddress) const;
    // A fresh record in the highest-numbered empty slot, or nullptr when every slot is taken.
    Pop3Connection* Create(const IpAddress& clientAddress, uint16_t clientPort,
                           const IpAddress& serverAddress);
    // Frees every record stamped closed more than two minutes before currentMinute (0..59).
    void SweepClosed(int currentMinute);
    void FreeAll();
    // Frees one record (the pointer is invalid afterwards).
    void Free(const Pop3Connection* connection);

    std::size_t Count() const;
    Pop3Connection* Slot(std::size_t index) const { return slots_[index].get(); }

    // Called after a record's key fields changed in place (a reused port starting afresh).
    void Rekey(const Pop3Connection* connection);

  private:
    // The keys side by side, so that the scan on every frame reads small arrays: ports first (0 marks an
    // empty slot; no client sends from port 0), addresses only on a port match.
    struct Addresses {
        IpAddress client;
        IpAddress server;
    };

    std::array<uint16_t, kSlots> ports_{};
    std::array<Addresses, kSlots> addresses_{};
    std::array<std::unique_ptr<Pop3Connection>, kSlots> slots_;
    mutable std::size_t lastFound_ = 0;  // slot of the last match (a hint; an empty slot has port 0)
};

// Minutes since the close was stamped, as the sweep counts them (wrapping at the hour).
int MinutesSinceClose(int closedAtMinute, int currentMinute);

}  // namespace bramvell
