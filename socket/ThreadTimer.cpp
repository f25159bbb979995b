// The time-out timer of the socket component.

#include "platform/Application.h"
#include "socket/Psock.h"

namespace pelicore {

TThreadTimer::TThreadTimer(TComponent* AOwner)
    : TComponent(AOwner), FInterval(1000), FWindowHandle(0), FEnabled(true) {
  // No platform timer yet: without a callback the timer does not run.
  FWindowHandle = TmrAllocateHWnd(this);
}

TThreadTimer::~TThreadTimer() {
  FEnabled = false;
  try {
    UpdateTimer();
  } catch (...) {
    // Stopping never fails; nothing may leave a destructor.
  }
  if (FWindowHandle != 0) win::DestroyHiddenWindow(FWindowHandle);
}

void TThreadTimer::UpdateTimer() {
  if (FRunning) {
    win::StopWindowTimer(FWindowHandle, TimerId);
    FRunning = false;
  }
  if (FInterval != 0 && FEnabled && FOnTimer) {
    if (!win::StartWindowTimer(FWindowHandle, TimerId, FInterval)) throw Exception("No Timer");
    FRunning = true;
  }
}

void TThreadTimer::SetEnabled(bool Value) {
  if (Value == FEnabled) return;
  FEnabled = Value;
  UpdateTimer();
}

void TThreadTimer::SetInterval(std::uint32_t Value) {
  if (Value == FInterval) return;
  FInterval = Value;
  UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value) {
  FOnTimer = std::move(Value);
  UpdateTimer();
}

void TThreadTimer::MessageProc(win::TMessage& Message) {
  if (Message.Msg == win::TimerMessage) {
    Guarded([this] { Timer(); });
    return;
  }
  Message.Result = win::DefaultWindowProc(FWindowHandle, Message.Msg, Message.WParam, Message.LParam);
}

void TThreadTimer::Timer() {
  if (FOnTimer) FOnTimer(this);
}

}  // namespace pelicore
