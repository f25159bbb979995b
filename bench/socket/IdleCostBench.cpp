// Idle cost: the processor time a ReadLn uses while it waits, with a time-out,
// on a peer that accepts and then sends nothing.

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "platform/Component.h"
#include "socket/Psock.h"

namespace {

double ProcessorSeconds() {
  rusage U{};
  ::getrusage(RUSAGE_SELF, &U);
  return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
         static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const int Seconds = argc > 1 ? std::atoi(argv[1]) : 10;

  // The silent peer: accepts, then blocks until the client goes.
  const int Listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Len = sizeof A;
  if (::bind(Listener, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(Listener, 1) != 0 ||
      ::getsockname(Listener, reinterpret_cast<sockaddr*>(&A), &Len) != 0)
    throw std::runtime_error("cannot listen on loopback");
  std::thread Peer([Listener] {
    const int C = ::accept(Listener, nullptr, nullptr);
    char Byte;
    while (::recv(C, &Byte, 1, 0) > 0) {
    }
    ::close(C);
  });

  {
    auto C = pelicore::MakeComponent<pelicore::TZedadedar>(nullptr);
    C->Host = "127.0.0.1";
    C->Port = ntohs(A.sin_port);
    C->Connect();
    C->TimeOut = Seconds * 1000;
    const double Before = ProcessorSeconds();
    const auto Start = std::chrono::steady_clock::now();
    try {
      C->ReadLn();
      std::printf("ReadLn returned before the time-out\n");
    } catch (const pelicore::EAbortError&) {
    }
    const double Waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    std::printf("ReadLn waited %.2f s (time-out %d s, TimedOut %s) using %.4f s of processor time\n", Waited,
                Seconds, C->TimedOut ? "set" : "not set", ProcessorSeconds() - Before);
  }
  Peer.join();
  ::close(Listener);
  return 0;
}
