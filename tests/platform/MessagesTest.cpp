#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/Application.h"
#include "platform/Messages.h"

using namespace pelicore;
using namespace pelicore::win;

namespace {

struct Received {
  WindowHandle Window;
  std::uint32_t Msg, WParam;
  std::int32_t LParam;
};
std::vector<Received> Got;

std::int32_t RecordingProc(WindowHandle W, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
  Got.push_back({W, Msg, WParam, LParam});
  if (Msg == UserMessage + 99) DestroyHiddenWindow(W);  // a handler that destroys its own window
  if (Msg == UserMessage + 1 && WParam > 0) PostWindowMessage(W, Msg, WParam - 1, 0);  // a chain of posts
  if (Msg == UserMessage + 2) PostWindowMessage(W, Msg, WParam + 1, 0);                // posts for ever
  return 0;
}

WindowHandle NewWindow() {
  if (!IsWindowClassRegistered("PelicoreTestWindow"))
    RegisterWindowClass({"PelicoreTestWindow", RecordingProc, sizeof(void*), ProgramInstance()});
  return CreateHiddenWindow("PelicoreTestWindow");
}

// Dispatches until Done() holds; the deadline only keeps a fault from hanging
// the test.
template <class F>
bool DispatchUntil(F Done, int Ms = 20000) {
  const auto End = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > End) return false;
    Application().ProcessMessages();
    SleepMs(1);
  }
  return true;
}

}  // namespace

TEST(Messages, PostedMessagesArriveInOrderOnlyWhileDispatching) {
  Got.clear();
  const WindowHandle W = NewWindow();
  ASSERT_NE(W, 0u);
  for (std::uint32_t I = 0; I < 100; ++I) PostWindowMessage(W, UserMessage, I, 0);
  std::thread Other([W] {
    for (std::uint32_t I = 100; I < 200; ++I) PostWindowMessage(W, UserMessage, I, 0);
  });
  Other.join();
  EXPECT_TRUE(Got.empty());
  Application().ProcessMessages();
  ASSERT_EQ(Got.size(), 200u);
  for (std::uint32_t I = 0; I < 200; ++I) EXPECT_EQ(Got[I].WParam, I);
  DestroyHiddenWindow(W);
}

TEST(Messages, TheMessagePumpDeliversWhatHandlersPostButAlwaysReturns) {
  Got.clear();
  const WindowHandle W = NewWindow();
  PostWindowMessage(W, UserMessage + 1, 3, 0);
  Application().ProcessMessages();
  ASSERT_EQ(Got.size(), 4u);  // 3, 2, 1, 0 in one call
  EXPECT_EQ(Got.back().WParam, 0u);
  Got.clear();
  PostWindowMessage(W, UserMessage + 2, 0, 0);
  Application().ProcessMessages();  // returns although the handler never stops posting
  EXPECT_FALSE(Got.empty());
  DestroyHiddenWindow(W);
}

TEST(Messages, DestroyingAWindowDropsItsMessagesAndRefusesNewOnes) {
  Got.clear();
  const WindowHandle W = NewWindow();
  SetWindowData(W, &Got);
  EXPECT_EQ(GetWindowData(W), &Got);
  PostWindowMessage(W, UserMessage, 1, 0);
  EXPECT_TRUE(DestroyHiddenWindow(W));
  EXPECT_FALSE(PostWindowMessage(W, UserMessage, 2, 0));
  EXPECT_FALSE(IsWindow(W));
  EXPECT_EQ(GetWindowData(W), nullptr);
  Application().ProcessMessages();
  EXPECT_TRUE(Got.empty());
}

TEST(Messages, AHandlerMayDestroyItsOwnWindow) {
  Got.clear();
  const WindowHandle W = NewWindow();
  PostWindowMessage(W, UserMessage + 99, 0, 0);
  PostWindowMessage(W, UserMessage, 7, 0);
  Application().ProcessMessages();
  ASSERT_EQ(Got.size(), 1u);
  EXPECT_FALSE(IsWindow(W));
}

// Judged by order, not by the clock: timers are precise and expire in the
// order of their deadlines, so a reference timer whose deadline lies between
// the two candidates tells which one a timer was given.
TEST(Messages, TimersTickWithTheirIdAndRestartTheirInterval) {
  Got.clear();
  const WindowHandle W = NewWindow();
  // Timer 1 ticks 200 ms from now, or from the restart at least 100 ms later;
  // reference timer 2 ticks 250 ms from now, between the two.
  ASSERT_TRUE(StartWindowTimer(W, 1, 200));
  ASSERT_TRUE(StartWindowTimer(W, 2, 250));
  SleepMs(100);
  ASSERT_TRUE(StartWindowTimer(W, 1, 200));
  ASSERT_TRUE(DispatchUntil([] { return !Got.empty(); }));
  EXPECT_EQ(Got[0].Msg, TimerMessage);
  EXPECT_EQ(Got[0].WParam, 2u) << "the restart moved timer 1 behind the reference";
  ASSERT_TRUE(DispatchUntil([] { return Got.size() >= 2; }));
  EXPECT_EQ(Got[1].WParam, 1u);

  // A stopped timer ticks no more while a longer one goes on ticking.
  StopWindowTimer(W, 1);
  ASSERT_TRUE(StartWindowTimer(W, 2, 250));
  Got.clear();
  ASSERT_TRUE(DispatchUntil([] { return Got.size() >= 2; }));
  for (const Received& R : Got) EXPECT_EQ(R.WParam, 2u);
  StopWindowTimer(W, 2);
  EXPECT_FALSE(StartWindowTimer(W, 3, 0));
  DestroyHiddenWindow(W);
}

TEST(Messages, WaitForNextEventBlocksUntilAPostArrives) {
  Got.clear();
  const WindowHandle W = NewWindow();
  // The clock starts before the poster exists, so the post cannot come
  // sooner than 100 ms from it, however the threads are scheduled.
  const auto Start = std::chrono::steady_clock::now();
  std::thread Poster([W] {
    SleepMs(100);
    PostWindowMessage(W, UserMessage, 5, 0);
  });
  int Passes = 0;
  while (Got.empty()) {
    Application().WaitForNextEvent();
    ++Passes;
  }
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(100));
  EXPECT_LT(Passes, 20);  // a wait that spun would have passed thousands of times
  Poster.join();
  DestroyHiddenWindow(W);
}
