#include "platform/Threads.h"

#include <QThread>

#include "platform/Application.h"
#include "platform/HandOver.h"

namespace pelicore {

namespace {
// What a thread did before it ended happens before what follows a wait for
// its end (Qt's own join is invisible to the thread checker).
char ThreadEnded;
}  // namespace

struct TThread::Impl : QThread {
  explicit Impl(TThread* Owner) : FOwner(Owner) {}
  void run() override {
    Guarded([this] { FOwner->Execute(); });
    if (FOwner->FreeOnTerminate) {
      // Nobody waits for a self-freeing thread: detach the Qt thread object
      // from its owner and free it on its own thread once it has finished.
      // Qt still uses the object after it announces the end, so the freeing
      // side joins the thread first (at once: it is about to exit).
      static_cast<void>(FOwner->FImpl.release());
      QObject::connect(this, &QThread::finished, this, [this] {
        pelicore::detail::TakeOver(&ThreadEnded);
        wait();
        delete this;
      }, Qt::QueuedConnection);
      delete FOwner;
    }
    pelicore::detail::HandOver(&ThreadEnded);
  }
  TThread* FOwner;
};

TThread::TThread() : FImpl(std::make_unique<Impl>(this)) {}

TThread::~TThread() {
  if (FImpl) {
    Terminate();
    FImpl->wait();
    pelicore::detail::TakeOver(&ThreadEnded);
  }
}

void TThread::Start() {
  if (FImpl && !FImpl->isRunning()) FImpl->start();
}

void TThread::WaitFor() {
  if (FImpl) {
    FImpl->wait();
    pelicore::detail::TakeOver(&ThreadEnded);
  }
}

}  // namespace pelicore
