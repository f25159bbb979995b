#include "tests/support/ScriptedPeer.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace pelicore::test {
namespace {

// Waits are cut into slices so that a stop request is seen soon.
constexpr ScriptedPeer::Ms Slice{20};

// Shows control bytes, so that a mismatch of line ends is readable.
std::string Visible(const std::string& Bytes) {
  std::string Out;
  for (const char C : Bytes) {
    if (C == '\r')
      Out += "\\r";
    else if (C == '\n')
      Out += "\\n";
    else if (static_cast<unsigned char>(C) < 32)
      Out += "\\x" + std::to_string(static_cast<unsigned char>(C));
    else
      Out += C;
  }
  return Out.size() > 200 ? Out.substr(0, 200) + "..." : Out;
}

}  // namespace

ScriptedPeer::ScriptedPeer(Ms Deadline) : FDeadlineLength(Deadline), FListener(4) {}

ScriptedPeer::~ScriptedPeer() {
  {
    std::lock_guard<std::mutex> G(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  if (FThread.joinable()) FThread.join();
  if (FConnection >= 0) ::close(FConnection);
}

ScriptedPeer& ScriptedPeer::ExpectLine(std::string Line) {
  FSteps.push_back({StepKind::ExpectLine, std::move(Line), 0, Ms(0)});
  return *this;
}

ScriptedPeer& ScriptedPeer::ExpectBytes(std::size_t Count) {
  FSteps.push_back({StepKind::ExpectBytes, {}, Count, Ms(0)});
  return *this;
}

ScriptedPeer& ScriptedPeer::Send(std::string Bytes, std::size_t ChunkSize, Ms Gap) {
  FSteps.push_back({StepKind::Send, std::move(Bytes), ChunkSize, Gap});
  return *this;
}

ScriptedPeer& ScriptedPeer::Pause(Ms Delay) {
  FSteps.push_back({StepKind::Pause, {}, 0, Delay});
  return *this;
}

ScriptedPeer& ScriptedPeer::Close() {
  FSteps.push_back({StepKind::Close, {}, 0, Ms(0)});
  return *this;
}

ScriptedPeer& ScriptedPeer::Reset() {
  FSteps.push_back({StepKind::Reset, {}, 0, Ms(0)});
  return *this;
}

ScriptedPeer& ScriptedPeer::ExpectClose() {
  FSteps.push_back({StepKind::ExpectClose, {}, 0, Ms(0)});
  return *this;
}

void ScriptedPeer::Start() {
  FDeadline = Clock::now() + FDeadlineLength;
  FThread = std::thread([this] { Run(); });
}

bool ScriptedPeer::Finish() {
  if (!FThread.joinable()) {
    Fail("Finish() without Start()");
    return false;
  }
  {
    std::unique_lock<std::mutex> G(FLock);
    FChanged.wait(G, [this] { return FScriptEnded; });
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
  if (FConnection >= 0) ::close(FConnection);
  FConnection = -1;
  std::lock_guard<std::mutex> G(FLock);
  return FScriptDone && FErrors.empty();
}

std::string ScriptedPeer::Received() const {
  std::lock_guard<std::mutex> G(FLock);
  return FReceived;
}

std::vector<std::string> ScriptedPeer::Errors() const {
  std::lock_guard<std::mutex> G(FLock);
  return FErrors;
}

std::string ScriptedPeer::ErrorText() const {
  std::string Text;
  for (const std::string& E : Errors()) Text += E + "\n";
  return Text;
}

bool ScriptedPeer::ClientClosed() const {
  std::lock_guard<std::mutex> G(FLock);
  return FClientClosed;
}

bool ScriptedPeer::ScriptDone() const {
  std::lock_guard<std::mutex> G(FLock);
  return FScriptDone;
}

void ScriptedPeer::Fail(std::string Why) {
  std::lock_guard<std::mutex> G(FLock);
  FErrors.push_back(std::move(Why));
}

ScriptedPeer::Ms ScriptedPeer::Remaining() const {
  const auto Left = std::chrono::duration_cast<Ms>(FDeadline - Clock::now());
  return std::max(Left, Ms(0));
}

bool ScriptedPeer::Stopping() const {
  std::lock_guard<std::mutex> G(FLock);
  return FStop;
}

void ScriptedPeer::Run() {
  bool Played = Accept();
  if (!Played) Fail("no client connected");
  for (std::size_t I = 0; Played && I < FSteps.size(); ++I) Played = PlayStep(FSteps[I]);
  {
    std::lock_guard<std::mutex> G(FLock);
    FScriptDone = Played;
    FScriptEnded = true;
  }
  FChanged.notify_all();
  if (FConnection < 0) return;
  // Go on recording until Finish(), then take in what has arrived by then.
  bool Open = !FConnectionDone && !ClientClosed();
  while (Open && !Stopping()) Open = ReadSome(Slice);
  while (Open && !FConnectionDone) {
    const std::size_t Before = FUnmatched.size();
    Open = ReadSome(Ms(0));
    if (FUnmatched.size() == Before) break;
  }
}

bool ScriptedPeer::Accept() {
  while (!Stopping() && Remaining() > Ms(0)) {
    pollfd P{FListener.Fd(), POLLIN, 0};
    const int Wait = static_cast<int>(std::min(Remaining(), Slice).count());
    if (::poll(&P, 1, Wait) <= 0) continue;
    FConnection = ::accept4(FListener.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (FConnection < 0) continue;
    const int One = 1;
    ::setsockopt(FConnection, IPPROTO_TCP, TCP_NODELAY, &One, sizeof One);
    return true;
  }
  return false;
}

bool ScriptedPeer::ReadSome(Ms Wait) {
  pollfd P{FConnection, POLLIN, 0};
  if (::poll(&P, 1, static_cast<int>(Wait.count())) <= 0) return true;
  char Chunk[65536];
  const ssize_t N = ::recv(FConnection, Chunk, sizeof Chunk, MSG_DONTWAIT);
  if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
  if (N <= 0) {
    std::lock_guard<std::mutex> G(FLock);
    FClientClosed = true;
    return false;
  }
  FUnmatched.append(Chunk, static_cast<std::size_t>(N));
  std::lock_guard<std::mutex> G(FLock);
  FReceived.append(Chunk, static_cast<std::size_t>(N));
  return true;
}

bool ScriptedPeer::SendAll(const char* Data, std::size_t Length) {
  while (Length > 0) {
    if (Stopping() || Remaining() == Ms(0)) {
      Fail("could not send: the client took nothing before the deadline");
      return false;
    }
    const ssize_t N = ::send(FConnection, Data, Length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (N < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd P{FConnection, POLLOUT, 0};
      ::poll(&P, 1, static_cast<int>(std::min(Remaining(), Slice).count()));
      continue;
    }
    if (N < 0) {
      Fail("send failed: the client has gone");
      return false;
    }
    Data += N;
    Length -= static_cast<std::size_t>(N);
  }
  return true;
}

bool ScriptedPeer::PlayStep(const Step& S) {
  switch (S.Kind) {
    case StepKind::ExpectLine:
    case StepKind::ExpectBytes: {
      for (;;) {
        std::size_t Length = 0;
        if (S.Kind == StepKind::ExpectBytes && FUnmatched.size() >= S.Count) Length = S.Count;
        if (S.Kind == StepKind::ExpectLine) {
          const std::size_t Lf = FUnmatched.find('\n');
          if (Lf != std::string::npos) Length = Lf + 1;
        }
        if (Length > 0 || (S.Kind == StepKind::ExpectBytes && S.Count == 0)) {
          const std::string Got = FUnmatched.substr(0, Length);
          FUnmatched.erase(0, Length);
          if (S.Kind == StepKind::ExpectLine && Got != S.Bytes) {
            Fail("expected the line \"" + Visible(S.Bytes) + "\", received \"" + Visible(Got) + "\"");
            return false;
          }
          return true;
        }
        const std::string What = S.Kind == StepKind::ExpectLine ? "the line \"" + Visible(S.Bytes) + "\""
                                                                : std::to_string(S.Count) + " bytes";
        if (Stopping() || Remaining() == Ms(0)) {
          Fail("deadline passed waiting for " + What + "; unmatched: \"" + Visible(FUnmatched) + "\"");
          return false;
        }
        if (!ReadSome(std::min(Remaining(), Slice))) {
          Fail("the client closed while the peer waited for " + What + "; unmatched: \"" + Visible(FUnmatched) +
               "\"");
          return false;
        }
      }
    }
    case StepKind::Send: {
      const std::size_t Chunk = S.Count == 0 ? std::max<std::size_t>(S.Bytes.size(), 1) : S.Count;
      for (std::size_t At = 0; At < S.Bytes.size(); At += Chunk) {
        if (At > 0 && S.Delay > Ms(0)) std::this_thread::sleep_for(S.Delay);
        if (!SendAll(S.Bytes.data() + At, std::min(Chunk, S.Bytes.size() - At))) return false;
      }
      return true;
    }
    case StepKind::Pause: {
      const auto Until = Clock::now() + S.Delay;
      while (!Stopping() && Clock::now() < Until)
        std::this_thread::sleep_for(std::min(Slice, std::chrono::duration_cast<Ms>(Until - Clock::now())));
      return true;
    }
    case StepKind::Close:
      ::shutdown(FConnection, SHUT_WR);
      return true;
    case StepKind::Reset: {
      const linger L{1, 0};
      ::setsockopt(FConnection, SOL_SOCKET, SO_LINGER, &L, sizeof L);
      ::close(FConnection);
      FConnection = -1;
      FConnectionDone = true;
      return true;
    }
    case StepKind::ExpectClose:
      while (!ClientClosed()) {
        if (Stopping() || Remaining() == Ms(0)) {
          Fail("deadline passed waiting for the client to close");
          return false;
        }
        ReadSome(std::min(Remaining(), Slice));
      }
      return true;
  }
  return false;
}

}  // namespace pelicore::test
