#pragma once

#include <string_view>

namespace bramvell {

inline constexpr int kTipCount = 11;
inline constexpr int kTipSlotCount = 20;
inline constexpr int kTipLineCount = 5;
inline constexpr int kTipLineLength = 52;

// Text of tip slot 1..20: slots 1..11 hold the tips (260 characters each, five 52-character lines),
// slots 12..20 the placeholders "12".."20". Out-of-range slots give an empty text.
std::string_view TipSlot(int slot);
// Line 0..4 of a tip slot: characters 52k to 52k+51 (shorter when the slot text is).
std::string_view TipLine(int slot, int line);

// The tip dialog's counter: starts at 0; each Next() moves on and cycles 1..11.
class TipCounter {
  public:
    int Next();
    int current() const { return counter_; }

  private:
    int counter_ = 0;
};

}  // namespace bramvell
