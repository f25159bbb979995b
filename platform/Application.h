#pragma once
// The application object: the message pump over the one event loop (Qt's),
// the blocking wait for the next event, and the exception handler of last
// resort. A Qt application object must exist before any of this is used.
//
// Nested dispatching is delicate: a handler run by ProcessMessages() may itself
// wait and dispatch again, so every handler must expect to be re-entered and
// must leave state consistent before it dispatches.

#include <exception>
#include <functional>
#include <string>

namespace pelicore {

class TApplication {
 public:
  std::string Title;

  // Dispatches every pending event of the calling thread (posted messages,
  // socket and timer notifications, input) and returns when none is left.
  void ProcessMessages();
  // Blocks until at least one event arrives, dispatches what has arrived and
  // returns. Returns at once when events are already pending. Never spins.
  void WaitForNextEvent();

  // Shows an exception that reached the event loop. Until a handler is
  // installed (the window's error box), and always on a thread other than
  // the user-interface thread, the text goes to standard error.
  void HandleException(std::exception_ptr E);
  using ExceptionHandler = std::function<void(std::exception_ptr)>;
  void SetExceptionHandler(ExceptionHandler Handler);

  // Folder of the program file, with a trailing '/'. Tests may point it
  // elsewhere with SetProgramFolder.
  std::string ProgramFolder() const;
  void SetProgramFolder(std::string Folder);

 private:
  ExceptionHandler FHandler;
  std::string FProgramFolder;
};

TApplication& Application();

// Sleeps the calling thread; dispatches nothing.
void SleepMs(unsigned Milliseconds);

// Runs Body and hands any exception to Application().HandleException, so that
// no exception crosses the event loop. Every entry point the loop calls goes
// through it.
template <class F>
void Guarded(F&& Body) noexcept {
  try {
    Body();
  } catch (...) {
    Application().HandleException(std::current_exception());
  }
}

}  // namespace pelicore
