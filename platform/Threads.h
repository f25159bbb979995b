#pragma once
// Threads and locks for code that serves several clients at once.

#include <atomic>
#include <memory>
#include <mutex>

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

// A thread with an event loop of its own for the message windows created on
// it: Execute() runs on the new thread and may dispatch with
// Application().ProcessMessages().
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
