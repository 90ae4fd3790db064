#pragma once

#include <chrono>
#include <mutex>
#include <string_view>
#include <thread>

#include "engine/PacketBuffer.h"
#include "engine/PacketSource.h"

namespace bramvell {

class Clock;
class FilterSettings;
class KeyState;
class MessageTarget;
class Pop3Handler;
struct FrameLayout;

// How long the loop waits for the packet event before it looks at stopRequested again; this bounds how
// long a stop request waits while no traffic flows.
inline constexpr std::chrono::milliseconds kPacketWaitTimeout{1000};
// The wait for frames while the loop finishes what it holds before stopping: timers run between.
inline constexpr std::chrono::milliseconds kFinishingWait{20};

// The one worker thread that sees network traffic. It puts one adapter of the packet source into tunnel
// mode and decides frame by frame: pass on, pass on altered, drop, or send frames of its own (through the
// POP3 handler). It talks to the user interface only by posting messages.
//
// The owner sets filterRunning and stopRequested to 0, calls Start() (or Run() on its own thread), sets
// stopRequested to 1 to end the loop, waits for filterRunning to read 0 (or calls Join()), and finally
// calls StopFiltering() to return the adapter to normal mode. The destructor does what is left of that.
class PacketFilterThread {
  public:
    // pop3 may be null: POP3 frames then pass unchanged.
    PacketFilterThread(FilterSettings& settings, PacketSource& source, MessageTarget& mainWindow,
                       KeyState& keyState, const Clock& clock, Pop3Handler* pop3 = nullptr);
    ~PacketFilterThread();
    PacketFilterThread(const PacketFilterThread&) = delete;
    PacketFilterThread& operator=(const PacketFilterThread&) = delete;

    // Tests shorten the idle wait; set it before Start() or Run().
    void SetWaitTimeout(std::chrono::milliseconds timeout) { waitTimeout_ = timeout; }

    // Runs Run() on a new thread; does nothing if that thread is still there.
    void Start();
    void Join();
    // The thread procedure: start-up, the packet loop until stopRequested, clean-up. Returns 0.
    int Run();

    // Exit handler: detaches the packet event, sets the adapter's mode back to normal and discards the
    // frames still held. Acts only once, and only if a start-up got as far as attaching the event. If the
    // thread started by Start() is still running, it is asked to stop and joined first.
    void StopFiltering();

    KeyState& keyState() const { return keyState_; }

  private:
    bool StartUp();
    void FailStartUp(std::string_view logLine);
    void Drain(bool& stopMark, bool stopOnRequest = true);
    // After a stop request: frames go on moving until the POP3 handler has finished what it holds, or
    // its grace time is up; then what is left is reset.
    void FinishBeforeStopping();
    void CheckDayChange();
    void Dispatch(bool& dropMark);
    void DispatchOutboundTcp(FrameLayout& layout, bool& dropMark);
    void Forward(bool dropMark);

    FilterSettings& settings_;
    PacketSource& source_;
    MessageTarget& mainWindow_;
    KeyState& keyState_;
    const Clock& clock_;
    Pop3Handler* pop3_;
    std::chrono::milliseconds waitTimeout_ = kPacketWaitTimeout;

    std::thread thread_;
    // Owned by the filter thread while it runs: the one frame buffer and the adapter it reads from.
    PacketBuffer buffer_;
    AdapterHandle adapter_ = 0;

    // Set once the packet event is attached: the adapter StopFiltering must restore.
    std::mutex exitMutex_;
    bool exitHandlerArmed_ = false;
    AdapterHandle tunnelAdapter_ = 0;
};

}  // namespace bramvell
