// Bulk transfer throughput over loopback: SendStream to a plain recv loop and
// CaptureStream from a plain send loop, each against a plain blocking
// send/recv pair moving the same number of bytes in the same run. The streams
// generate and count bytes without storing them, so 1 GiB needs no memory.

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
#include <thread>

#include "platform/Component.h"
#include "platform/Streams.h"
#include "socket/Psock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t Chunk = 65536;

// Size bytes of a repeating pattern, generated on reading.
class PatternStream : public pelicore::TStream {
 public:
  explicit PatternStream(std::int64_t Size) : FSize(Size) {
    for (std::size_t I = 0; I < sizeof FPattern; ++I) FPattern[I] = static_cast<char>(I * 7);
  }
  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    const std::int64_t N = std::max<std::int64_t>(0, std::min(Count, FSize - FPosition));
    auto* Out = static_cast<char*>(Buffer);
    for (std::int64_t Done = 0; Done < N;) {
      const auto Offset = static_cast<std::size_t>((FPosition + Done) % static_cast<std::int64_t>(sizeof FPattern));
      const auto Piece = std::min<std::int64_t>(N - Done, static_cast<std::int64_t>(sizeof FPattern - Offset));
      std::memcpy(Out + Done, FPattern + Offset, static_cast<std::size_t>(Piece));
      Done += Piece;
    }
    FPosition += N;
    return N;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, pelicore::SeekOrigin Origin) override {
    FPosition = Origin == pelicore::SeekOrigin::Beginning ? Offset
                : Origin == pelicore::SeekOrigin::Current ? FPosition + Offset
                                                           : FSize + Offset;
    return FPosition;
  }
  std::int64_t Size() override { return FSize; }
  void SetSize(std::int64_t) override {}

 private:
  std::int64_t FSize;
  std::int64_t FPosition = 0;
  char FPattern[Chunk + 13];
};

// Counts what is written; its size is that count.
class CountingStream : public pelicore::TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override {
    FSize += Count;
    return Count;
  }
  std::int64_t Seek(std::int64_t, pelicore::SeekOrigin) override { return FSize; }
  std::int64_t Size() override { return FSize; }
  void SetSize(std::int64_t) override {}

 private:
  std::int64_t FSize = 0;
};

int Listener(std::uint16_t& Port) {
  const int L = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Len = sizeof A;
  if (::bind(L, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0 || ::listen(L, 4) != 0 ||
      ::getsockname(L, reinterpret_cast<sockaddr*>(&A), &Len) != 0)
    throw std::runtime_error("cannot listen on loopback");
  Port = ntohs(A.sin_port);
  return L;
}

int ConnectTo(std::uint16_t Port) {
  const int S = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(Port);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(S, reinterpret_cast<sockaddr*>(&A), sizeof A) != 0) throw std::runtime_error("connect failed");
  return S;
}

void SendAll(int S, std::int64_t Bytes) {
  static char Data[Chunk];
  for (std::int64_t Left = Bytes; Left > 0;) {
    const ssize_t N = ::send(S, Data, static_cast<std::size_t>(std::min<std::int64_t>(Left, Chunk)), MSG_NOSIGNAL);
    if (N <= 0) throw std::runtime_error("send failed");
    Left -= N;
  }
}

// Until Bytes have arrived or the sender closes.
std::int64_t RecvAll(int S, std::int64_t Bytes) {
  static char Data[Chunk];
  std::int64_t Total = 0;
  for (ssize_t N; Total < Bytes && (N = ::recv(S, Data, sizeof Data, 0)) > 0;) Total += N;
  return Total;
}

double Seconds(Clock::time_point Start) { return std::chrono::duration<double>(Clock::now() - Start).count(); }

double PlainPair(std::int64_t Bytes) {
  std::uint16_t Port = 0;
  const int L = Listener(Port);
  std::int64_t Got = 0;
  std::thread Reader([&] {
    const int C = ::accept(L, nullptr, nullptr);
    Got = RecvAll(C, Bytes);
    ::close(C);
  });
  const int S = ConnectTo(Port);
  const auto Start = Clock::now();
  SendAll(S, Bytes);
  ::shutdown(S, SHUT_WR);
  Reader.join();
  const double T = Seconds(Start);
  ::close(S);
  ::close(L);
  if (Got != Bytes) throw std::runtime_error("the plain pair lost bytes");
  return T;
}

pelicore::ComponentPtr<pelicore::TZedadedar> Component(std::uint16_t Port) {
  auto C = pelicore::MakeComponent<pelicore::TZedadedar>(nullptr);
  C->Host = "127.0.0.1";
  C->Port = Port;
  C->Connect();
  return C;
}

double ComponentSends(std::int64_t Bytes) {
  std::uint16_t Port = 0;
  const int L = Listener(Port);
  std::int64_t Got = 0;
  std::thread Reader([&] {
    const int C = ::accept(L, nullptr, nullptr);
    Got = RecvAll(C, Bytes);
    ::close(C);
  });
  auto C = Component(Port);
  PatternStream Stream(Bytes);
  const auto Start = Clock::now();
  C->SendStream(Stream);
  // The component's first socket resets its connection when closed, which
  // would drop bytes still on the way: close only once they have arrived.
  Reader.join();
  const double T = Seconds(Start);
  C->Disconnect();
  ::close(L);
  if (Got != Bytes) throw std::runtime_error("SendStream lost bytes");
  return T;
}

double ComponentCaptures(std::int64_t Bytes) {
  std::uint16_t Port = 0;
  const int L = Listener(Port);
  std::thread Writer([&] {
    const int C = ::accept(L, nullptr, nullptr);
    SendAll(C, Bytes);
    ::close(C);
  });
  auto C = Component(Port);
  CountingStream Stream;
  const auto Start = Clock::now();
  C->CaptureStream(Stream, static_cast<std::int32_t>(std::min<std::int64_t>(Bytes, INT32_MAX)));
  const double T = Seconds(Start);
  Writer.join();
  ::close(L);
  if (Stream.Size() != Bytes) throw std::runtime_error("CaptureStream lost bytes");
  return T;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication App(argc, argv);
  const std::int64_t MiB = argc > 1 ? std::atoll(argv[1]) : 1024;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::int64_t Bytes = MiB << 20;
  // The best of each: the machine is shared, and the best round is the one
  // least disturbed.
  double Plain = 1e9, Sends = 1e9, Captures = 1e9;
  for (int R = 0; R < Rounds; ++R) {
    Plain = std::min(Plain, PlainPair(Bytes));
    Sends = std::min(Sends, ComponentSends(Bytes));
    Captures = std::min(Captures, ComponentCaptures(Bytes));
  }
  const double Mb = static_cast<double>(MiB);
  std::printf("%lld MiB over loopback, best of %d rounds\n", static_cast<long long>(MiB), Rounds);
  std::printf("  plain send/recv pair  %8.0f MiB/s\n", Mb / Plain);
  std::printf("  SendStream            %8.0f MiB/s  (%.0f %% of the plain pair)\n", Mb / Sends, 100 * Plain / Sends);
  std::printf("  CaptureStream         %8.0f MiB/s  (%.0f %% of the plain pair)\n", Mb / Captures,
              100 * Plain / Captures);
  return 0;
}
