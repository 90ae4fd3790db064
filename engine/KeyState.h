#pragma once

namespace bramvell {

// The pause test: true while Control or Shift is held down. Called from the filter thread.
class KeyState {
public:
    virtual ~KeyState() = default;
    virtual bool IsPauseKeyHeld() = 0;
};

// For headless runs: no key is ever held.
class NoKeyState final : public KeyState {
public:
    bool IsPauseKeyHeld() override { return false; }
};

}  // namespace bramvell
