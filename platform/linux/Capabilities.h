#pragma once

#include <initializer_list>
#include <string>

namespace bramvell {

// Network capabilities that an ordinary user's run holds through the executable's file capabilities
// (cap_net_admin,cap_net_raw+ep). They stay permitted but not effective, and are made effective only
// around the calls that need them, so that a fault elsewhere cannot use them. A root run (euid 0) is
// left as it is: it needs no file capabilities and nothing here changes its sets.

// Empties the effective set, keeping the permitted one. Call once at start, before any thread exists,
// so that every thread inherits the lowered set (capability sets are per thread).
void LowerEffectiveCapabilities();

// True when capability is in the permitted set (for root: in the effective set, which is all root
// uses).
bool HoldsCapability(int capability);

// Removes capability from the permitted, effective and inheritable sets of every thread of the
// process, for good. False (with problem set) when a thread could not be reached.
bool DropCapabilityForGood(int capability, std::string* problem = nullptr);

// The given capabilities are effective on the calling thread while this object lives (those that are
// permitted); the effective set is put back as it was at the end.
class RaisedCapabilities {
  public:
    explicit RaisedCapabilities(std::initializer_list<int> capabilities);
    ~RaisedCapabilities();
    RaisedCapabilities(const RaisedCapabilities&) = delete;
    RaisedCapabilities& operator=(const RaisedCapabilities&) = delete;

  private:
    bool changed_ = false;
    unsigned effectiveBefore_[2] = {0, 0};
};

}  // namespace bramvell
