#include "engine/PacketFilterThread.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "config/ActivityLog.h"
#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "engine/DatagramFilter.h"
#include "engine/Frame.h"
#include "engine/KeyState.h"
#include "engine/MessageTarget.h"
#include "engine/Pop3Handler.h"
#include "engine/SmtpFilter.h"

namespace bramvell {

namespace {

constexpr uint16_t kPop3ServerPort = 110;
constexpr uint16_t kFirstIrcPort = 6661;
constexpr uint16_t kLastIrcPort = 6669;

bool IsWebPort(uint16_t port) {
    return port == 80 || port == 1080 || port == 3128 || port == 8080;
}

}  // namespace

PacketFilterThread::PacketFilterThread(FilterSettings& settings, PacketSource& source,
                                       MessageTarget& mainWindow, KeyState& keyState, const Clock& clock,
                                       Pop3Handler* pop3)
    : settings_(settings),
      source_(source),
      mainWindow_(mainWindow),
      keyState_(keyState),
      clock_(clock),
      pop3_(pop3) {}

PacketFilterThread::~PacketFilterThread() {
    StopFiltering();
}

void PacketFilterThread::Start() {
    if (thread_.joinable()) {
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

void PacketFilterThread::Join() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
}

void PacketFilterThread::StopFiltering() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        settings_.stopRequested = 1;
        thread_.join();
    }
    AdapterHandle adapter = 0;
    {
        std::lock_guard lock(exitMutex_);
        if (!exitHandlerArmed_) {
            return;
        }
        exitHandlerArmed_ = false;
        adapter = tunnelAdapter_;
    }
    source_.SetPacketEvent(adapter, false);
    source_.SetAdapterMode(adapter, kAdapterModeNormal);
    source_.FlushAdapterPacketQueue(adapter);
}

void PacketFilterThread::FailStartUp(std::string_view logLine) {
    LogActivity(settings_, logLine, clock_);
    mainWindow_.Post(WM_FILTER_FAILED, WM_FILTER_FAILED);
}

// The connection table is the POP3 handler's: it exists, empty, from the handler's construction on.
bool PacketFilterThread::StartUp() {
    if (!source_.IsDriverLoaded()) {
        FailStartUp("Bramvell network driver not installed on this system or failed to load\n");
        return false;
    }

    const int32_t adapterIndex = settings_.adapterIndex;
    const std::vector<AdapterInfo> adapters = source_.GetTcpipBoundAdaptersInfo();
    // A negative index is as missing as one past the end; 64 bits so that index + 1 cannot overflow.
    if (adapterIndex < 0 || int64_t{adapterIndex} + 1 > static_cast<int64_t>(adapters.size())) {
        char line[96];
        std::snprintf(line, sizeof line, "Bramvell network adapter %d not found (%zu adapters available)\n",
                      static_cast<int>(adapterIndex), adapters.size());
        FailStartUp(line);
        return false;
    }

    const AdapterHandle adapter = adapters[static_cast<std::size_t>(adapterIndex)].handle;
    if (!source_.SetPacketEvent(adapter, true)) {
        FailStartUp("Failed to create notification event or set it for driver\n");
        return false;
    }

    {
        std::lock_guard lock(exitMutex_);
        exitHandlerArmed_ = true;
        tunnelAdapter_ = adapter;
    }

    buffer_ = PacketBuffer{};
    adapter_ = adapter;

    source_.SetAdapterMode(adapter, kAdapterModeTunnel);
    if (const std::string notice = source_.FilteringNotice(); !notice.empty()) {
        LogActivity(settings_, notice + "\n", clock_);
    }

    settings_.filterRunning = 1;
    LogActivity(settings_, "Bramvell has started filtering\n", clock_);
    mainWindow_.Post(WM_FILTER_STARTED, WM_FILTER_STARTED);
    return true;
}

int PacketFilterThread::Run() {
    if (!StartUp()) {
        return 0;
    }

    bool stopMark = false;
    while (!stopMark) {
        if (source_.WaitForPacketEvent(waitTimeout_)) {
            source_.ResetPacketEvent();
            if (pop3_ != nullptr) {
                pop3_->SweepClosedConnections();
            }
            Drain(stopMark);
        }
        if (pop3_ != nullptr) {
            pop3_->OnIdle(source_, adapter_);
        }
        if (settings_.stopRequested != 0) {
            stopMark = true;
        }
    }

    FinishBeforeStopping();
    if (pop3_ != nullptr) {
        pop3_->FreeAll();
    }
    settings_.filterRunning = 0;
    return 0;
}

void PacketFilterThread::FinishBeforeStopping() {
    if (pop3_ == nullptr) {
        return;
    }
    pop3_->BeginStopping();
    // The grace ends by the engine's clock. Rounds that waited in vain end it too, where that clock
    // stands still (a simulated one): each takes a wait's time on a real clock, so there the clock ends
    // it first.
    constexpr int kMaxIdleRounds = 3000 / static_cast<int>(kFinishingWait.count()) + 50;
    int idleRounds = 0;
    while (idleRounds < kMaxIdleRounds && pop3_->Finishing()) {
        if (source_.WaitForPacketEvent(kFinishingWait)) {
            source_.ResetPacketEvent();
            bool stopMark = false;
            Drain(stopMark, false);
        } else {
            ++idleRounds;
        }
        pop3_->OnIdle(source_, adapter_);
    }
    pop3_->ResetUnfinished(source_, adapter_);
}

void PacketFilterThread::Drain(bool& stopMark, bool stopOnRequest) {
    while (!stopMark && source_.ReadPacket(adapter_, buffer_)) {
        CheckDayChange();
        bool dropMark = false;
        Dispatch(dropMark);
        Forward(dropMark);
        if (stopOnRequest && settings_.stopRequested != 0) {
            stopMark = true;
        }
    }
}

// Reported by the first frame read on a new day, not by the clock itself.
void PacketFilterThread::CheckDayChange() {
    const int day = clock_.Now().day;
    if (day != settings_.lastDayOfMonth.load(std::memory_order_relaxed)) {
        settings_.lastDayOfMonth = day;
        mainWindow_.Post(WM_DAY_CHANGED, WM_FILTER_FAILED);
    }
}

void PacketFilterThread::Dispatch(bool& dropMark) {
    FrameLayout layout;
    const FrameKind kind = ParseFrame(buffer_.Bytes(), layout);
    if (kind != FrameKind::Tcp && kind != FrameKind::Udp) {
        return;  // other EtherTypes, other IP protocols and malformed frames pass as they came
    }
    if (buffer_.deviceFlags == PacketDirection::Outbound) {
        if (kind == FrameKind::Tcp) {
            DispatchOutboundTcp(layout, dropMark);
        }
        return;
    }
    if (buffer_.deviceFlags != PacketDirection::Inbound) {
        return;
    }
    if (kind == FrameKind::Udp) {
        FrameContext frame{buffer_, layout, dropMark, source_, adapter_};
        OnInboundDatagram(frame, settings_, mainWindow_);
        return;
    }
    const uint16_t sourcePort = ConstTcpHeader(buffer_.frame.data() + layout.transportOffset).SourcePort();
    // POP3 frames reach the handler whatever the filter option says: connections it already translates
    // must keep their numbers; the handler itself starts nothing new while the option is off.
    if (sourcePort == kPop3ServerPort && pop3_ != nullptr) {
        FrameContext frame{buffer_, layout, dropMark, source_, adapter_};
        pop3_->OnServerSegment(frame);
    }
}

void PacketFilterThread::DispatchOutboundTcp(FrameLayout& layout, bool& dropMark) {
    const uint16_t port = ConstTcpHeader(buffer_.frame.data() + layout.transportOffset).DestinationPort();
    const bool withData = layout.payloadLength > 0;
    if (port >= kFirstIrcPort && port <= kLastIrcPort) {
        if (withData) {
            mainWindow_.Post(WM_IRC_ACTIVITY, WM_IRC_ACTIVITY);
        }
    } else if (port == kSmtpPort) {
        FrameContext frame{buffer_, layout, dropMark, source_, adapter_};
        OnOutboundSmtp(frame, settings_, mainWindow_);
    } else if (port == kPop3ServerPort) {
        if (pop3_ != nullptr) {
            FrameContext frame{buffer_, layout, dropMark, source_, adapter_};
            pop3_->OnClientSegment(frame);
        }
    } else if (IsWebPort(port)) {
        if (withData) {
            mainWindow_.Post(WM_WEB_ACTIVITY, WM_WEB_ACTIVITY);
        }
    }
}

// The POP3 handler may have turned the frame around, so its direction is read now, not at arrival.
void PacketFilterThread::Forward(bool dropMark) {
    if (dropMark) {
        source_.DropPacket(adapter_, buffer_);
    } else if (buffer_.deviceFlags == PacketDirection::Outbound) {
        source_.SendPacketToAdapter(adapter_, buffer_);
    } else {
        source_.SendPacketToMstcp(adapter_, buffer_);
    }
}

}  // namespace bramvell
