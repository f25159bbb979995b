// Idle cost over TLS: the processor time a ReadLn uses while it waits, with a
// time-out, on a TLS peer that completes the handshake and then sends
// nothing, against the same wait on a plain silent peer in the same run.

#include <QCoreApplication>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/Component.h"
#include "socket/Psock.h"
#include "tests/support/TestCa.h"
#include "tests/support/TlsPeer.h"

namespace {

double ProcessorSeconds() {
  rusage U{};
  ::getrusage(RUSAGE_SELF, &U);
  return static_cast<double>(U.ru_utime.tv_sec + U.ru_stime.tv_sec) +
         static_cast<double>(U.ru_utime.tv_usec + U.ru_stime.tv_usec) / 1e6;
}

// Processor seconds of one ReadLn that waits Seconds for a silent peer.
double IdleWait(const pelicore::test::TlsPeerOptions& Options, bool Tls, const std::string& CaFile, int Seconds) {
  pelicore::test::TlsPeer Peer(Options);
  double Used = 0;
  {
    auto C = pelicore::MakeComponent<pelicore::TZedadedar>(nullptr);
    C->Host = "localhost";
    C->Port = Peer.Port();
    C->UseTls = Tls;
    C->TlsCaFile = CaFile;
    C->Connect();
    if (!Tls) C->ReadLn();  // the plain peer's greeting
    C->TimeOut = Seconds * 1000;
    const double Before = ProcessorSeconds();
    try {
      const std::string Line = C->ReadLn();
      std::printf("ReadLn returned before the time-out: '%s'\n", Line.c_str());
    } catch (const pelicore::EAbortError&) {
    }
    Used = ProcessorSeconds() - Before;
    if (!C->TimedOut) std::printf("the wait did not end by its time-out\n");
  }
  Peer.Join();
  return Used;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  // The peer's own hang guard is 10 s: stay below it.
  const int Seconds = argc > 1 ? std::atoi(argv[1]) : 8;
  pelicore::test::TestCa Ca;
  const auto Leaf = Ca.Issue("idle", {});
  pelicore::test::TlsPeerOptions Tls{.CertFile = Leaf.CertFile, .KeyFile = Leaf.KeyFile, .Greeting = ""};
  pelicore::test::TlsPeerOptions Plain{.Mode = pelicore::test::TlsPeerOptions::Kind::PlainText};
  const double OverTls = IdleWait(Tls, true, Ca.CaFile(), Seconds);
  const double OverPlain = IdleWait(Plain, false, "", Seconds);
  std::printf("ReadLn waiting %d s: %.4f s of processor time over TLS, %.4f s plain (TLS/plain %.2f)\n", Seconds,
              OverTls, OverPlain, OverPlain > 0 ? OverTls / OverPlain : 0.0);
  return 0;
}
