// Line reading throughput: a loopback sender thread streams lines of 76
// characters and CR LF; the socket component reads them all with ReadLn. The
// same stream is read by a plain blocking recv loop in the same run, as the
// baseline the ratio is taken against.

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

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

// The baseline: one blocking recv after another into a 64 KiB buffer.
double PlainRecvLoop(std::size_t Lines, std::size_t& Bytes) {
  Sender S(Lines);
  const int C = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(S.Port());
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(C, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) throw std::runtime_error("connect failed");
  static char Buffer[65536];
  Bytes = 0;
  const auto Start = Clock::now();
  for (ssize_t N; (N = ::recv(C, Buffer, sizeof Buffer, 0)) > 0;) Bytes += static_cast<std::size_t>(N);
  const double Took = Seconds(Clock::now() - Start);
  ::close(C);
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
    if (Line.size() != LineLength || Line[76] != '\r') throw std::runtime_error("a line came out wrong");
    Bytes += Line.size();
    ++LinesRead;
  }
  return Seconds(Clock::now() - Start);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const double Megabytes = argc > 1 ? std::atof(argv[1]) : 100.0;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const auto Lines = static_cast<std::size_t>(Megabytes * 1e6 / LineLength);
  std::printf("%zu lines of 76 characters + CR LF (%.1f MB), best of %d rounds\n", Lines,
              static_cast<double>(Lines * LineLength) / 1e6, Rounds);

  double Plain = 1e9, Line0 = 1e9, LineTimed = 1e9;
  for (int R = 0; R < Rounds; ++R) {
    std::size_t Bytes = 0, Read = 0;
    Plain = std::min(Plain, PlainRecvLoop(Lines, Bytes));
    if (Bytes != Lines * LineLength) throw std::runtime_error("plain loop lost bytes");
    Line0 = std::min(Line0, ComponentReadLn(Lines, 0, Bytes, Read));
    if (Read != Lines) throw std::runtime_error("ReadLn lost lines");
    LineTimed = std::min(LineTimed, ComponentReadLn(Lines, 10000, Bytes, Read));
    if (Read != Lines) throw std::runtime_error("ReadLn lost lines");
  }
  const double Mb = static_cast<double>(Lines * LineLength) / 1e6;
  std::printf("plain blocking recv loop:    %8.0f MB/s\n", Mb / Plain);
  std::printf("ReadLn, TimeOut 0:           %8.0f MB/s  (%.0f %% of the plain loop)\n", Mb / Line0,
              100.0 * Plain / Line0);
  std::printf("ReadLn, TimeOut 10000:       %8.0f MB/s  (%.0f %% of the plain loop)\n", Mb / LineTimed,
              100.0 * Plain / LineTimed);
  return 0;
}
