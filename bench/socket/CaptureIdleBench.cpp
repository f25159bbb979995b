// Processor time of a CaptureString (and of a SendStream to a peer that reads
// nothing) waiting on a silent loopback peer until its time-out, against the
// wall time of the wait.

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Component.h"
#include "platform/Streams.h"
#include "socket/Psock.h"

namespace {

double ProcessorSeconds() {
  rusage U{};
  ::getrusage(RUSAGE_THREAD, &U);
  return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
         static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

template <class F>
void Measure(const char* What, F&& Wait) {
  const double Before = ProcessorSeconds();
  const auto Start = std::chrono::steady_clock::now();
  try {
    Wait();
    std::printf("%s returned before the time-out\n", What);
  } catch (const pelicore::EAbortError&) {
  }
  const double Waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  std::printf("%-40s waited %5.2f s using %.4f s of processor time\n", What, Waited, ProcessorSeconds() - Before);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const int Seconds = argc > 1 ? std::atoi(argv[1]) : 10;
  const int L = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Len = sizeof A;
  static_cast<void>(::bind(L, reinterpret_cast<sockaddr*>(&A), sizeof A));
  static_cast<void>(::listen(L, 1));
  ::getsockname(L, reinterpret_cast<sockaddr*>(&A), &Len);
  // The peer accepts and then neither sends nor reads until the waits end.
  int Peer = -1;
  std::thread Accepting([&] { Peer = ::accept(L, nullptr, nullptr); });
  auto C = pelicore::MakeComponent<pelicore::TZedadedar>(nullptr);
  C->Host = "127.0.0.1";
  C->Port = ntohs(A.sin_port);
  C->Connect();
  Accepting.join();

  C->TimeOut = Seconds * 1000;
  std::string Text;
  Measure("CaptureString on a silent peer", [&] { C->CaptureString(Text, -1); });

  // SendStream arms no time-out: a timer of the test cancels it.
  auto Cancel = pelicore::MakeComponent<pelicore::TThreadTimer>(nullptr);
  Cancel->SetInterval(static_cast<std::uint32_t>(Seconds * 1000));
  Cancel->SetOnTimer([&](pelicore::TComponent*) {
    Cancel->SetEnabled(false);
    C->Cancel();
  });
  pelicore::TMemoryStream Stream;
  Stream.SetSize(64 << 20);
  Measure("SendStream to a peer that reads nothing", [&] { C->SendStream(Stream); });
  ::close(Peer);
  ::close(L);
  return 0;
}
