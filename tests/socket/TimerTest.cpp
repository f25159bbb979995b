// The time-out timer: when it runs, when a change restarts its count, and the
// socket component's arming of it.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/Application.h"
#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "socket/Psock.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/EventPump.h"

namespace pelicore::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

struct TickRecorder {
  Clock::time_point Start = Clock::now();
  std::vector<milliseconds> Ticks;
  TNotifyEvent Callback() {
    return [this](TComponent*) {
      Ticks.push_back(std::chrono::duration_cast<milliseconds>(Clock::now() - Start));
    };
  }
};

TEST(ThreadTimer, NewTimerIsEnabledWith1000MsAndTicksOnceACallbackIsSet) {
  auto Timer = MakeComponent<TThreadTimer>(nullptr);
  EXPECT_TRUE(Timer->Enabled());
  EXPECT_EQ(Timer->Interval(), 1000u);
  TickRecorder Rec;
  Timer->SetOnTimer(Rec.Callback());
  ASSERT_TRUE(PumpUntil([&] { return !Rec.Ticks.empty(); }, milliseconds(3000)));
  EXPECT_GE(Rec.Ticks.front(), milliseconds(990));
}

TEST(ThreadTimer, IntervalZeroNeverTicks) {
  auto Timer = MakeComponent<TThreadTimer>(nullptr);
  TickRecorder Rec;
  Timer->SetInterval(0);
  Timer->SetOnTimer(Rec.Callback());
  PumpFor(milliseconds(300));
  EXPECT_TRUE(Rec.Ticks.empty());
}

// Interval 1000 ms; about 600 ms after the start the timer is touched. A
// restart moves the first tick to a full interval after the touch; without
// one it comes at about 1000 ms, some 600 ms before that, which leaves a
// loaded machine plenty of room.
struct RestartCase {
  const char* Touch;
  void (*Apply)(TThreadTimer&, TNotifyEvent);
  bool Restarts;
};

TEST(ThreadTimer, OnlyAChangedValueOrANewCallbackRestartsTheCount) {
  const RestartCase Cases[] = {
      {"Enabled set to true again", [](TThreadTimer& T, TNotifyEvent) { T.SetEnabled(true); }, false},
      {"same Interval again", [](TThreadTimer& T, TNotifyEvent) { T.SetInterval(1000); }, false},
      {"same callback again", [](TThreadTimer& T, TNotifyEvent C) { T.SetOnTimer(std::move(C)); }, true},
      {"Interval changed and back", [](TThreadTimer& T, TNotifyEvent) { T.SetInterval(1001); T.SetInterval(1000); }, true},
  };
  for (const RestartCase& C : Cases) {
    SCOPED_TRACE(C.Touch);
    auto Timer = MakeComponent<TThreadTimer>(nullptr);
    Timer->SetInterval(1000);
    TickRecorder Rec;
    Timer->SetOnTimer(Rec.Callback());
    PumpFor(milliseconds(600));
    const auto Touched = std::chrono::duration_cast<milliseconds>(Clock::now() - Rec.Start);
    C.Apply(*Timer, Rec.Callback());
    ASSERT_TRUE(PumpUntil([&] { return !Rec.Ticks.empty(); }, milliseconds(4000)));
    if (C.Restarts)
      EXPECT_GE(Rec.Ticks.front(), Touched + milliseconds(990));
    else
      EXPECT_LT(Rec.Ticks.front(), Touched + milliseconds(990));
  }
}

TEST(ThreadTimer, AFailingCallbackDoesNotStopTheTimer) {
  auto Timer = MakeComponent<TThreadTimer>(nullptr);
  Timer->SetInterval(50);
  int Ticks = 0;
  Application().SetExceptionHandler([](std::exception_ptr) {});
  Timer->SetOnTimer([&](TComponent*) {
    ++Ticks;
    throw Exception("tick failed");
  });
  EXPECT_TRUE(PumpUntil([&] { return Ticks >= 2; }, milliseconds(3000)));
  Application().SetExceptionHandler(nullptr);
}

TEST(TimeOut, FiresOncePerArmingAndAbortsTheComponent) {
  SocketPtr S = NewSocket();
  S->ReportLevel = StatusLevel::Trace;
  int Fired = 0;
  S->OnStatus = [&](TComponent*, const std::string& Status) {
    if (Status == "Timer Triggered") ++Fired;
  };
  S->TimeOut = 100;
  S->TimerOn();
  PumpFor(milliseconds(500));
  EXPECT_EQ(Fired, 1);
  EXPECT_TRUE(S->TimedOut);
  EXPECT_TRUE(S->AsyncDone);
  EXPECT_TRUE(S->Canceled);
  EXPECT_FALSE(S->Timer->Enabled());

  // Arming again clears TimedOut; a zero time-out arms nothing.
  S->TimeOut = 0;
  S->TimerOn();
  EXPECT_FALSE(S->TimedOut);
  PumpFor(milliseconds(200));
  EXPECT_EQ(Fired, 1);
  S->TimerOff();

  S->TimeOut = -5;
  EXPECT_THROW(S->TimerOn(), ERangeError);
}

}  // namespace
}  // namespace pelicore::test
