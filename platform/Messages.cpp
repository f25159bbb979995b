// Message windows on Qt: each window is a QObject living on the thread that
// created it. Posted messages are Qt events to that object (Qt keeps them in
// posting order per receiver and drops them when the object goes); window
// timers are QObject timers reported as TimerMessage.

#include "platform/Messages.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimerEvent>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/Application.h"
#include "platform/HandOver.h"
#include "platform/MessagesInternal.h"

namespace pelicore::win {
namespace {

const QEvent::Type MessageEventType = static_cast<QEvent::Type>(QEvent::User + 101);

// Per-thread count of messages posted and not yet delivered or dropped.
struct ThreadQueue {
  std::atomic<int> Pending{0};
};

class WindowObject;

struct WindowRecord {
  WindowHandle Handle = 0;
  WindowClassInfo Class{};
  void* Data = nullptr;
  WindowObject* Receiver = nullptr;
  ThreadQueue* Queue = nullptr;
  std::map<std::uint32_t, int> Timers;   // our id -> Qt timer id
  std::map<int, std::uint32_t> TimerIds;  // Qt timer id -> our id
  int Dispatching = 0;  // touched only by the owning thread
  // Set by whichever thread destroys the window; read by the owning thread.
  std::atomic<bool> Destroyed{false};
};

// One process-wide registry; deliberately never destroyed, so that late
// posts from other threads during exit find a valid (empty) table.
struct Registry {
  std::mutex Lock;
  std::unordered_map<std::string, WindowClassInfo> Classes;
  std::unordered_map<WindowHandle, WindowRecord*> Windows;
  std::unordered_map<QThread*, ThreadQueue*> Queues;
  WindowHandle NextHandle = 1;
};

Registry& Reg() {
  static Registry* R = new Registry;
  return *R;
}

ThreadQueue* QueueOf(QThread* Thread) {
  // Caller holds the lock.
  auto& Q = Reg().Queues[Thread];
  if (!Q) Q = new ThreadQueue;
  return Q;
}

class MessageEvent : public QEvent {
 public:
  MessageEvent(ThreadQueue* AQueue, std::uint32_t AMsg, std::uint32_t AWParam, std::int32_t ALParam,
               std::function<void()> ATask)
      : QEvent(MessageEventType), FQueue(AQueue), Msg(AMsg), WParam(AWParam), LParam(ALParam), Task(std::move(ATask)) {
    FQueue->Pending.fetch_add(1, std::memory_order_relaxed);
    pelicore::detail::HandOver(this);
  }
  ~MessageEvent() override { FQueue->Pending.fetch_sub(1, std::memory_order_relaxed); }

 private:
  ThreadQueue* FQueue;

 public:
  std::uint32_t Msg;
  std::uint32_t WParam;
  std::int32_t LParam;
  std::function<void()> Task;
};

class WindowObject : public QObject {
 public:
  explicit WindowObject(WindowRecord* Record) : FRecord(Record) {}

  bool event(QEvent* E) override {
    if (E->type() != MessageEventType) return QObject::event(E);
    if (!FRecord) return true;
    auto* M = static_cast<MessageEvent*>(E);
    pelicore::detail::TakeOver(M);
    Dispatch([&] {
      if (M->Task)
        M->Task();
      else
        CallProcedure(M->Msg, M->WParam, M->LParam);
    });
    return true;
  }

  // On the owning thread: frees the record once no handler of the window is
  // on the stack (otherwise the last one to return does it). Now: nothing of
  // this object is on the stack either, so it can go at once.
  void FinishDestroy(bool Now) {
    if (!FRecord || FRecord->Dispatching != 0) return;
    for (auto& [Id, QtId] : FRecord->Timers) killTimer(QtId);
    delete FRecord;
    FRecord = nullptr;
    if (Now)
      delete this;
    else
      deleteLater();
  }

  // On the owning thread.
  bool StartTimer(std::uint32_t Id, std::uint32_t Milliseconds) {
    if (!FRecord || FRecord->Destroyed) return false;
    StopTimer(Id);
    const int QtId = startTimer(std::chrono::milliseconds(Milliseconds), Qt::PreciseTimer);
    if (QtId == 0) return false;
    FRecord->Timers[Id] = QtId;
    FRecord->TimerIds[QtId] = Id;
    return true;
  }

  void StopTimer(std::uint32_t Id) {
    if (!FRecord) return;
    auto It = FRecord->Timers.find(Id);
    if (It == FRecord->Timers.end()) return;
    killTimer(It->second);
    FRecord->TimerIds.erase(It->second);
    FRecord->Timers.erase(It);
  }

  void timerEvent(QTimerEvent* E) override {
    if (!FRecord) return;
    auto It = FRecord->TimerIds.find(E->timerId());
    if (It == FRecord->TimerIds.end()) return;
    const std::uint32_t Id = It->second;
    Dispatch([&] { CallProcedure(TimerMessage, Id, 0); });
  }

 private:
  template <class F>
  void Dispatch(F&& Body) {
    if (FRecord->Destroyed) return;
    ++FRecord->Dispatching;
    Guarded(Body);
    --FRecord->Dispatching;
    // The window was destroyed by its own handler (or by another thread
    // meanwhile): finish the job now that nothing of it is on the stack.
    if (FRecord->Destroyed) FinishDestroy(false);
  }

  void CallProcedure(std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
    if (FRecord->Class.Procedure) FRecord->Class.Procedure(FRecord->Handle, Msg, WParam, LParam);
  }

  WindowRecord* FRecord;
};

int ProgramInstanceMarker;

WindowRecord* Find(WindowHandle Window) {
  auto It = Reg().Windows.find(Window);
  return It == Reg().Windows.end() ? nullptr : It->second;
}

bool Post(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam,
          std::function<void()> Task) {
  std::lock_guard<std::mutex> G(Reg().Lock);
  WindowRecord* R = Find(Window);
  if (!R) return false;
  QCoreApplication::postEvent(R->Receiver, new MessageEvent(R->Queue, Msg, WParam, LParam, std::move(Task)));
  return true;
}

}  // namespace

ModuleHandle ProgramInstance() { return &ProgramInstanceMarker; }

bool IsWindowClassRegistered(const char* ClassName) {
  std::lock_guard<std::mutex> G(Reg().Lock);
  return ClassName && Reg().Classes.count(ClassName) != 0;
}

bool RegisterWindowClass(const WindowClassInfo& Info) {
  if (!Info.ClassName || !*Info.ClassName || !Info.Procedure) return false;
  std::lock_guard<std::mutex> G(Reg().Lock);
  return Reg().Classes.emplace(Info.ClassName, Info).second;
}

WindowHandle CreateHiddenWindow(const char* ClassName) {
  if (!ClassName) return 0;
  auto* R = new WindowRecord;
  {
    std::lock_guard<std::mutex> G(Reg().Lock);
    auto It = Reg().Classes.find(ClassName);
    if (It == Reg().Classes.end()) {
      delete R;
      return 0;
    }
    R->Class = It->second;
    R->Handle = Reg().NextHandle++;
    if (Reg().NextHandle == 0) Reg().NextHandle = 1;
    R->Queue = QueueOf(QThread::currentThread());
  }
  R->Receiver = new WindowObject(R);
  std::lock_guard<std::mutex> G(Reg().Lock);
  Reg().Windows.emplace(R->Handle, R);
  return R->Handle;
}

bool DestroyHiddenWindow(WindowHandle Window) {
  WindowRecord* R;
  {
    std::lock_guard<std::mutex> G(Reg().Lock);
    R = Find(Window);
    if (!R) return false;
    Reg().Windows.erase(Window);
  }
  // From here no post can reach it; drop what is queued.
  R->Destroyed = true;
  QCoreApplication::removePostedEvents(R->Receiver, MessageEventType);
  WindowObject* Receiver = R->Receiver;
  if (Receiver->thread() != QThread::currentThread()) {
    // Qt objects and their timers may only be touched by their own thread:
    // the owner frees them when it next dispatches.
    pelicore::detail::HandOver(Receiver);
    QMetaObject::invokeMethod(Receiver, [Receiver] {
      pelicore::detail::TakeOver(Receiver);
      Receiver->FinishDestroy(false);
    }, Qt::QueuedConnection);
    return true;
  }
  R->Data = nullptr;
  Receiver->FinishDestroy(true);
  return true;
}

bool IsWindow(WindowHandle Window) {
  std::lock_guard<std::mutex> G(Reg().Lock);
  return Find(Window) != nullptr;
}

void SetWindowData(WindowHandle Window, void* Data) {
  std::lock_guard<std::mutex> G(Reg().Lock);
  if (WindowRecord* R = Find(Window)) R->Data = Data;
}

void* GetWindowData(WindowHandle Window) {
  std::lock_guard<std::mutex> G(Reg().Lock);
  WindowRecord* R = Find(Window);
  return R ? R->Data : nullptr;
}

std::int32_t DefaultWindowProc(WindowHandle, std::uint32_t, std::uint32_t, std::int32_t) { return 0; }

bool PostWindowMessage(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
  return Post(Window, Msg, WParam, LParam, nullptr);
}

std::int32_t SendWindowMessage(WindowHandle Window, std::uint32_t Msg, std::uint32_t WParam, std::int32_t LParam) {
  WindowProc Proc;
  {
    std::lock_guard<std::mutex> G(Reg().Lock);
    WindowRecord* R = Find(Window);
    if (!R) return 0;
    Proc = R->Class.Procedure;
  }
  return Proc ? Proc(Window, Msg, WParam, LParam) : 0;
}

bool StartWindowTimer(WindowHandle Window, std::uint32_t Id, std::uint32_t Milliseconds) {
  if (Milliseconds == 0) return false;
  WindowRecord* R;
  {
    std::lock_guard<std::mutex> G(Reg().Lock);
    R = Find(Window);
  }
  if (!R) return false;
  WindowObject* Receiver = R->Receiver;
  if (Receiver->thread() != QThread::currentThread()) {
    pelicore::detail::HandOver(Receiver);
    QMetaObject::invokeMethod(Receiver, [Receiver, Id, Milliseconds] {
      pelicore::detail::TakeOver(Receiver);
      Receiver->StartTimer(Id, Milliseconds);
    }, Qt::QueuedConnection);
    return true;
  }
  return Receiver->StartTimer(Id, Milliseconds);
}

void StopWindowTimer(WindowHandle Window, std::uint32_t Id) {
  WindowRecord* R;
  {
    std::lock_guard<std::mutex> G(Reg().Lock);
    R = Find(Window);
  }
  if (!R) return;
  WindowObject* Receiver = R->Receiver;
  if (Receiver->thread() != QThread::currentThread()) {
    pelicore::detail::HandOver(Receiver);
    QMetaObject::invokeMethod(Receiver, [Receiver, Id] {
      pelicore::detail::TakeOver(Receiver);
      Receiver->StopTimer(Id);
    }, Qt::QueuedConnection);
    return;
  }
  Receiver->StopTimer(Id);
}

namespace detail {

int PendingMessagesOfThisThread() {
  thread_local ThreadQueue* Q = [] {
    std::lock_guard<std::mutex> G(Reg().Lock);
    return QueueOf(QThread::currentThread());
  }();
  return Q->Pending.load(std::memory_order_relaxed);
}

bool PostWindowTask(WindowHandle Window, std::function<void()> Task) {
  return Post(Window, 0, 0, 0, std::move(Task));
}

}  // namespace detail
}  // namespace pelicore::win
