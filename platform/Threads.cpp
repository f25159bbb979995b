#include "platform/Threads.h"

#include <QThread>

#include "platform/Application.h"

namespace pelicore {

struct TThread::Impl : QThread {
  explicit Impl(TThread* Owner) : FOwner(Owner) {}
  void run() override {
    Guarded([this] { FOwner->Execute(); });
    if (FOwner->FreeOnTerminate) {
      // Nobody waits for a self-freeing thread: detach the Qt thread object
      // from its owner and let it delete itself once finished.
      static_cast<void>(FOwner->FImpl.release());
      QObject::connect(this, &QThread::finished, this, &QObject::deleteLater);
      delete FOwner;
    }
  }
  TThread* FOwner;
};

TThread::TThread() : FImpl(std::make_unique<Impl>(this)) {}

TThread::~TThread() {
  if (FImpl) {
    Terminate();
    FImpl->wait();
  }
}

void TThread::Start() {
  if (FImpl && !FImpl->isRunning()) FImpl->start();
}

void TThread::WaitFor() {
  if (FImpl) FImpl->wait();
}

}  // namespace pelicore
