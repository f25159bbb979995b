#include "platform/Application.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <cstdio>
#include <thread>
#include <unistd.h>

#include "platform/Exceptions.h"
#include "platform/MessagesInternal.h"

namespace pelicore {

TApplication& Application() {
  static TApplication Instance;
  return Instance;
}

void TApplication::ProcessMessages() {
  // One pass of Qt's dispatcher delivers what was pending when it started;
  // messages posted by those handlers wait for the next pass. Repeat while our
  // own windows on this thread still have messages queued, bounded so that a
  // handler that keeps posting cannot trap the caller here.
  for (int Pass = 0; Pass < 64; ++Pass) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (win::detail::PendingMessagesOfThisThread() == 0) break;
  }
}

void TApplication::WaitForNextEvent() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

void TApplication::HandleException(std::exception_ptr E) {
  // The handler shows a box, which only the user-interface thread may do:
  // an exception on any other thread goes to standard error.
  const bool OnMainThread =
      QCoreApplication::instance() == nullptr || QThread::currentThread() == QCoreApplication::instance()->thread();
  if (FHandler && OnMainThread) {
    try {
      FHandler(E);
      return;
    } catch (...) {
      // The handler itself failed: fall back to standard error below.
    }
  }
  const std::string Text = ExceptionText(E);
  std::fprintf(stderr, "%s: %s\n", Title.empty() ? "Pelicore" : Title.c_str(), Text.c_str());
}

void TApplication::SetExceptionHandler(ExceptionHandler Handler) { FHandler = std::move(Handler); }

std::string TApplication::ProgramFolder() const {
  if (!FProgramFolder.empty()) return FProgramFolder;
  char Path[4096];
  const ssize_t N = ::readlink("/proc/self/exe", Path, sizeof Path - 1);
  if (N <= 0) return "./";
  std::string Exe(Path, static_cast<std::size_t>(N));
  return Exe.substr(0, Exe.rfind('/') + 1);
}

void TApplication::SetProgramFolder(std::string Folder) {
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
  FProgramFolder = std::move(Folder);
}

void SleepMs(unsigned Milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds)); }

}  // namespace pelicore
