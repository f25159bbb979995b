// Line reading throughput: a loopback sender thread streams lines of 76
// characters and CR LF; the socket component reads them all with ReadLn. In
// the same run and over the same stream, rounds taking turns: a blocking recv
// loop that does the same line work (finds each line end, makes a string per
// line, checks it), the fair baseline; and a plain recv loop that only counts
// bytes, the floor of the loopback itself.
//
//   socket_line_bench [megabytes=100] [rounds=5]

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/support/Measure.h"
#include "platform/Component.h"
#include "socket/Psock.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t LineLength = 78;  // 76 characters and CR LF

std::string Block() {
  // Whole lines, about 64 KiB; each line is distinct within the block.
  std::string B;
  for (int I = 0; B.size() + LineLength <= 65536; ++I) {
    std::string Line(76, static_cast<char>('A' + I % 26));
    Line[0] = static_cast<char>('0' + I % 10);
    B += Line + "\r\n";
  }
  return B;
}

// Listens on a loopback port of the system's choice and streams Lines lines
// to the first client, then closes.
class Sender {
 public:
  explicit Sender(std::size_t Lines) : FLines(Lines) {
    FListener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in A{};
    A.sin_family = AF_INET;
    A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t Len = sizeof A;
    if (::bind(FListener, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(FListener, 1) != 0 ||
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&A), &Len) != 0)
      throw std::runtime_error("cannot listen on loopback");
    FPort = ntohs(A.sin_port);
    FThread = std::thread([this] { Run(); });
  }
  ~Sender() {
    FThread.join();
    ::close(FListener);
  }
  std::uint16_t Port() const { return FPort; }

 private:
  void Run() {
    const int C = ::accept(FListener, nullptr, nullptr);
    const std::string B = Block();
    const std::size_t PerBlock = B.size() / LineLength;
    for (std::size_t Left = FLines; Left > 0;) {
      const std::size_t Lines = std::min(Left, PerBlock);
      const char* P = B.data();
      std::size_t N = Lines * LineLength;
      while (N > 0) {
        const ssize_t Sent = ::send(C, P, N, MSG_NOSIGNAL);
        if (Sent <= 0) {
          ::close(C);
          return;
        }
        P += Sent;
        N -= static_cast<std::size_t>(Sent);
      }
      Left -= Lines;
    }
    ::close(C);
  }
  std::size_t FLines;
  int FListener;
  std::uint16_t FPort = 0;
  std::thread FThread;
};

double Seconds(Clock::duration D) { return std::chrono::duration<double>(D).count(); }

// The line check every reader applies.
bool LineIsRight(const char* Line, std::size_t Length) { return Length == LineLength && Line[76] == '\r'; }

int ConnectBlocking(std::uint16_t Port) {
  const int C = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(C, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) throw std::runtime_error("connect failed");
  return C;
}

// The floor: one blocking recv after another into a 64 KiB buffer.
double PlainRecvLoop(std::size_t Lines, std::size_t& Bytes) {
  Sender S(Lines);
  const int C = ConnectBlocking(S.Port());
  static char Buffer[65536];
  Bytes = 0;
  const auto Start = Clock::now();
  for (ssize_t N; (N = ::recv(C, Buffer, sizeof Buffer, 0)) > 0;) Bytes += static_cast<std::size_t>(N);
  const double Took = Seconds(Clock::now() - Start);
  ::close(C);
  return Took;
}

// The fair baseline: the same blocking loop doing what ReadLn's caller gets,
// each line found with memchr and handed out as a string of its own, a line
// cut by the end of a receive carried into the next one.
double LineRecvLoop(std::size_t Lines, std::size_t& LinesRead) {
  Sender S(Lines);
  const int C = ConnectBlocking(S.Port());
  static char Buffer[65536];
  std::string Carry;
  LinesRead = 0;
  const auto Start = Clock::now();
  for (ssize_t N; (N = ::recv(C, Buffer, sizeof Buffer, 0)) > 0;) {
    const char* P = Buffer;
    const char* End = Buffer + N;
    while (P < End) {
      const auto* Lf = static_cast<const char*>(std::memchr(P, '\n', static_cast<std::size_t>(End - P)));
      if (Lf == nullptr) {
        Carry.append(P, End);
        break;
      }
      std::string Line = Carry;
      Line.append(P, Lf + 1);
      Carry.clear();
      if (!LineIsRight(Line.data(), Line.size())) throw std::runtime_error("baseline: a line came out wrong");
      ++LinesRead;
      P = Lf + 1;
    }
  }
  const double Took = Seconds(Clock::now() - Start);
  ::close(C);
  if (!Carry.empty()) throw std::runtime_error("baseline: a part line was left over");
  return Took;
}

double ComponentReadLn(std::size_t Lines, std::int32_t TimeOut, std::size_t& Bytes, std::size_t& LinesRead) {
  Sender S(Lines);
  auto C = pelicore::MakeComponent<pelicore::TZedadedar>(nullptr);
  C->Host = "127.0.0.1";
  C->Port = S.Port();
  C->TimeOut = TimeOut;
  C->Connect();
  Bytes = 0;
  LinesRead = 0;
  const auto Start = Clock::now();
  for (;;) {
    const std::string Line = C->ReadLn();
    if (Line.empty()) break;
    if (!LineIsRight(Line.data(), Line.size())) throw std::runtime_error("ReadLn: a line came out wrong");
    Bytes += Line.size();
    ++LinesRead;
  }
  return Seconds(Clock::now() - Start);
}

}  // namespace

int main(int argc, char** argv) {
  using pelicore::bench::RateText;
  using pelicore::bench::RatioText;
  QCoreApplication App(argc, argv);
  const double Megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const auto Lines = static_cast<std::size_t>(Megabytes * 1e6 / LineLength);
  std::printf("%zu lines of 76 characters + CR LF (%.1f MB), %d rounds a side, taking turns\n", Lines,
              static_cast<double>(Lines * LineLength) / 1e6, Rounds);

  pelicore::bench::Samples Plain, LineLoop, Line0, LineTimed;
  pelicore::bench::Checks Check;
  try {
    for (int R = 0; R < Rounds; ++R) {
      std::size_t Bytes = 0, Read = 0;
      Plain.Add(PlainRecvLoop(Lines, Bytes));
      Check.Expect(Bytes == Lines * LineLength, "plain recv loop: every byte arrived");
      LineLoop.Add(LineRecvLoop(Lines, Read));
      Check.Expect(Read == Lines, "line recv loop: every line read and right");
      Line0.Add(ComponentReadLn(Lines, 0, Bytes, Read));
      Check.Expect(Read == Lines && Bytes == Lines * LineLength, "ReadLn, TimeOut 0: every line read and right");
      LineTimed.Add(ComponentReadLn(Lines, 10000, Bytes, Read));
      Check.Expect(Read == Lines && Bytes == Lines * LineLength, "ReadLn, TimeOut 10000: every line read and right");
    }
  } catch (const std::exception& E) {
    std::fprintf(stderr, "benchmark failed: %s\n", E.what());
    return 1;
  }
  const double Mb = static_cast<double>(Lines * LineLength) / 1e6;
  std::printf("MB/s as median (slowest-fastest); ratios as median (range over the rounds)\n");
  std::printf("line recv loop (baseline):   %s\n", RateText(Mb, LineLoop, "MB/s").c_str());
  std::printf("ReadLn, TimeOut 0:           %-22s  %s of the line loop\n", RateText(Mb, Line0, "MB/s").c_str(),
              RatioText(LineLoop, Line0).c_str());
  std::printf("ReadLn, TimeOut 10000:       %-22s  %s of the line loop\n", RateText(Mb, LineTimed, "MB/s").c_str(),
              RatioText(LineLoop, LineTimed).c_str());
  std::printf("plain recv loop (no lines):  %-22s  ReadLn (TimeOut 0) at %s of it\n",
              RateText(Mb, Plain, "MB/s").c_str(), RatioText(Plain, Line0).c_str());
  std::printf("%s\n", Check.Summary().c_str());
  return Check.ExitCode();
}
