#pragma once
// Threads and locks for code that serves several clients at once.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace pelicore {

// A process-wide or per-object lock.
class TCriticalSection {
 public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  bool TryEnter() { return FMutex.try_lock(); }

 private:
  std::mutex FMutex;
};

// A list of object references with a lock of its own. Add and Remove take
// the lock; LockList() holds it for as long as the returned guard lives.
template <class T>
class TThreadList {
 public:
  class Locked {
   public:
    Locked(std::unique_lock<std::mutex> Guard, std::vector<T*>& Items) : FGuard(std::move(Guard)), FItems(Items) {}
    std::vector<T*>& Items() { return FItems; }

   private:
    std::unique_lock<std::mutex> FGuard;
    std::vector<T*>& FItems;
  };

  void Add(T* Item) {
    std::lock_guard<std::mutex> G(FLock);
    FItems.push_back(Item);
  }
  void Remove(T* Item) {
    {
      std::lock_guard<std::mutex> G(FLock);
      FItems.erase(std::remove(FItems.begin(), FItems.end(), Item), FItems.end());
    }
    FChanged.notify_all();
  }
  int Count() {
    std::lock_guard<std::mutex> G(FLock);
    return static_cast<int>(FItems.size());
  }
  Locked LockList() { return Locked(std::unique_lock<std::mutex>(FLock), FItems); }
  // Blocks (without dispatching) until the list is empty or Timeout has
  // passed; returns whether it is empty.
  bool WaitUntilEmpty(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> G(FLock);
    return FChanged.wait_for(G, Timeout, [this] { return FItems.empty(); });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<T*> FItems;
};

// A thread with an event loop of its own for the message windows created on
// it: Execute() runs on the new thread and may dispatch with
// Application().ProcessMessages() and wait with WaitForNextEvent(). An
// exception that leaves Execute goes to standard error, never to a box.
class TThread {
 public:
  TThread();  // created suspended: Start() runs it
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }
  // Waits until Execute has returned.
  void WaitFor();
  // When set before Start, the thread deletes itself after Execute.
  bool FreeOnTerminate = false;

 protected:
  virtual void Execute() = 0;

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
  std::atomic<bool> FTerminated{false};
};

}  // namespace pelicore
