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

// No test here judges by the wall clock: the platform timers are precise and
// expire in the order of their deadlines, so a reference timer whose deadline
// lies between the two candidates tells which one a timer was given, however
// late a loaded machine dispatches. The deadlines of PumpUntil only keep a
// broken timer from hanging the test.
constexpr milliseconds HangGuard{20000};

// A timer that counts its own ticks, for reference.
struct ReferenceTimer {
  explicit ReferenceTimer(std::uint32_t Interval) {
    Timer->SetInterval(Interval);
    Timer->SetOnTimer([this](TComponent*) { ++Ticks; });
  }
  ComponentPtr<TThreadTimer> Timer = MakeComponent<TThreadTimer>(nullptr);
  int Ticks = 0;
};

// Dispatches until a reference timer of Interval ms has ticked Count times:
// any timer with a shorter interval that runs has ticked by then.
void PumpTicks(std::uint32_t Interval, int Count) {
  ReferenceTimer Reference(Interval);
  ASSERT_TRUE(PumpUntil([&] { return Reference.Ticks >= Count; }, HangGuard));
}

TEST(ThreadTimer, NewTimerIsEnabledWith1000MsAndTicksOnceACallbackIsSet) {
  auto Timer = MakeComponent<TThreadTimer>(nullptr);
  EXPECT_TRUE(Timer->Enabled());
  EXPECT_EQ(Timer->Interval(), 1000u);
  TickRecorder Rec;
  Timer->SetOnTimer(Rec.Callback());
  ASSERT_TRUE(PumpUntil([&] { return !Rec.Ticks.empty(); }, HangGuard));
  EXPECT_GE(Rec.Ticks.front(), milliseconds(990));  // never early
}

TEST(ThreadTimer, IntervalZeroNeverTicks) {
  auto Timer = MakeComponent<TThreadTimer>(nullptr);
  TickRecorder Rec;
  Timer->SetInterval(0);
  Timer->SetOnTimer(Rec.Callback());
  PumpTicks(50, 3);
  EXPECT_TRUE(Rec.Ticks.empty());
}

// Interval 1000 ms; some 600 ms after the start the timer is touched. Without
// a restart it ticks 1000 ms after the start, with one 1000 ms after the
// touch; a reference timer started at the touch with 700 ms falls between
// the two by some 300 ms either way.
struct RestartCase {
  const char* Touch;
  void (*Apply)(TThreadTimer&, const TNotifyEvent&);
  bool Restarts;
};

TEST(ThreadTimer, OnlyAChangedValueOrANewCallbackRestartsTheCount) {
  const RestartCase Cases[] = {
      {"Enabled set to true again", [](TThreadTimer& T, const TNotifyEvent&) { T.SetEnabled(true); }, false},
      {"same Interval again", [](TThreadTimer& T, const TNotifyEvent&) { T.SetInterval(1000); }, false},
      {"same callback again", [](TThreadTimer& T, const TNotifyEvent& C) { T.SetOnTimer(C); }, true},
      {"Interval changed and back", [](TThreadTimer& T, const TNotifyEvent&) { T.SetInterval(1001); T.SetInterval(1000); }, true},
  };
  for (const RestartCase& C : Cases) {
    SCOPED_TRACE(C.Touch);
    // The touch must come before the first tick; a machine so loaded that
    // the 600 ms stretched past 1000 ms tries again.
    bool Judged = false;
    for (int Attempt = 0; Attempt < 5 && !Judged; ++Attempt) {
      auto Timer = MakeComponent<TThreadTimer>(nullptr);
      Timer->SetInterval(1000);
      std::vector<std::string> Order;
      const TNotifyEvent Callback = [&](TComponent*) { Order.push_back("timer"); };
      Timer->SetOnTimer(Callback);
      PumpTicks(600, 1);
      if (!Order.empty()) continue;
      C.Apply(*Timer, Callback);
      auto Reference = MakeComponent<TThreadTimer>(nullptr);
      Reference->SetInterval(700);
      Reference->SetOnTimer([&](TComponent*) { Order.push_back("reference"); });
      ASSERT_TRUE(PumpUntil([&] { return Order.size() >= 2; }, HangGuard));
      EXPECT_EQ(Order.front(), C.Restarts ? "reference" : "timer");
      Judged = true;
    }
    EXPECT_TRUE(Judged) << "the timer ticked before every touch";
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
  EXPECT_TRUE(PumpUntil([&] { return Ticks >= 2; }, HangGuard));
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
  ASSERT_TRUE(PumpUntil([&] { return Fired > 0; }, HangGuard));
  PumpTicks(100, 3);  // a time-out still armed would fire again meanwhile
  EXPECT_EQ(Fired, 1);
  EXPECT_TRUE(S->TimedOut);
  EXPECT_TRUE(S->AsyncDone);
  EXPECT_TRUE(S->Canceled);
  EXPECT_FALSE(S->Timer->Enabled());

  // Arming again clears TimedOut; a zero time-out arms nothing.
  S->TimeOut = 0;
  S->TimerOn();
  EXPECT_FALSE(S->TimedOut);
  PumpTicks(100, 3);
  EXPECT_EQ(Fired, 1);
  S->TimerOff();

  S->TimeOut = -5;
  EXPECT_THROW(S->TimerOn(), ERangeError);
}

}  // namespace
}  // namespace pelicore::test
