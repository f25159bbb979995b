#include "tests/support/ScriptedClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace pelicore::test {

ScriptedClient::ScriptedClient(std::uint16_t Port, Ms Deadline) : FPort(Port), FDeadlineLength(Deadline) {}

ScriptedClient::~ScriptedClient() {
  if (FThread.joinable()) FThread.join();
  if (FSocket >= 0) ::close(FSocket);
}

ScriptedClient& ScriptedClient::Send(std::string Bytes) {
  FSteps.push_back({StepKind::Send, std::move(Bytes)});
  return *this;
}

ScriptedClient& ScriptedClient::ExpectLine(std::string Line) {
  FSteps.push_back({StepKind::ExpectLine, std::move(Line)});
  return *this;
}

ScriptedClient& ScriptedClient::Pause(Ms Delay) {
  FSteps.push_back({StepKind::Pause, {}, Delay});
  return *this;
}

ScriptedClient& ScriptedClient::Close() {
  FSteps.push_back({StepKind::Close, {}});
  return *this;
}

ScriptedClient& ScriptedClient::ExpectClose() {
  FSteps.push_back({StepKind::ExpectClose, {}});
  return *this;
}

void ScriptedClient::Start() {
  FDeadline = Clock::now() + FDeadlineLength;
  FThread = std::thread([this] { Run(); });
}

bool ScriptedClient::Finish() {
  if (FThread.joinable()) FThread.join();
  if (FSocket >= 0) ::close(FSocket);
  FSocket = -1;
  std::lock_guard<std::mutex> G(FLock);
  return FErrors.empty();
}

std::string ScriptedClient::Received() const {
  std::lock_guard<std::mutex> G(FLock);
  return FReceived;
}

std::string ScriptedClient::ErrorText() const {
  std::lock_guard<std::mutex> G(FLock);
  std::string Text;
  for (const std::string& E : FErrors) Text += E + "\n";
  return Text;
}

void ScriptedClient::Fail(std::string Why) {
  std::lock_guard<std::mutex> G(FLock);
  FErrors.push_back(std::move(Why));
}

ScriptedClient::Ms ScriptedClient::Remaining() const {
  return std::max(std::chrono::duration_cast<Ms>(FDeadline - Clock::now()), Ms(0));
}

void ScriptedClient::Run() {
  FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in A{};
  A.sin_family = AF_INET;
  A.sin_port = htons(FPort);
  A.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (FSocket < 0 || ::connect(FSocket, reinterpret_cast<const sockaddr*>(&A), sizeof A) != 0) {
    Fail("could not connect to port " + std::to_string(FPort));
  } else {
    sockaddr_in Local{};
    socklen_t Len = sizeof Local;
    if (::getsockname(FSocket, reinterpret_cast<sockaddr*>(&Local), &Len) == 0) FLocalPort = ntohs(Local.sin_port);
    for (const Step& S : FSteps)
      if (!Play(S)) break;
  }
  FEnded = true;
}

bool ScriptedClient::ReadSome(Ms Wait) {
  pollfd P{FSocket, POLLIN, 0};
  if (::poll(&P, 1, static_cast<int>(Wait.count())) <= 0) return true;
  char Chunk[65536];
  const ssize_t N = ::recv(FSocket, Chunk, sizeof Chunk, MSG_DONTWAIT);
  if (N < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (N <= 0) {
    FServerClosed = true;
    return false;
  }
  FUnmatched.append(Chunk, static_cast<std::size_t>(N));
  std::lock_guard<std::mutex> G(FLock);
  FReceived.append(Chunk, static_cast<std::size_t>(N));
  return true;
}

bool ScriptedClient::Play(const Step& S) {
  switch (S.Kind) {
    case StepKind::Send: {
      std::size_t Done = 0;
      while (Done < S.Bytes.size()) {
        const ssize_t N = ::send(FSocket, S.Bytes.data() + Done, S.Bytes.size() - Done, MSG_NOSIGNAL);
        if (N <= 0) {
          Fail("send failed: the server has gone");
          return false;
        }
        Done += static_cast<std::size_t>(N);
      }
      return true;
    }
    case StepKind::ExpectLine:
      for (;;) {
        const std::size_t Lf = FUnmatched.find('\n');
        if (Lf != std::string::npos) {
          const std::string Got = FUnmatched.substr(0, Lf + 1);
          FUnmatched.erase(0, Lf + 1);
          if (Got == S.Bytes) return true;
          Fail("expected the line \"" + S.Bytes + "\", received \"" + Got + "\"");
          return false;
        }
        if (Remaining() == Ms(0)) {
          Fail("deadline passed waiting for the line \"" + S.Bytes + "\"");
          return false;
        }
        if (!ReadSome(std::min(Remaining(), Ms(20)))) {
          Fail("the server closed before the line \"" + S.Bytes + "\"; unmatched \"" + FUnmatched + "\"");
          return false;
        }
      }
    case StepKind::Pause:
      std::this_thread::sleep_for(S.Delay);
      return true;
    case StepKind::Close:
      ::shutdown(FSocket, SHUT_WR);
      return true;
    case StepKind::ExpectClose:
      while (!FServerClosed) {
        if (Remaining() == Ms(0)) {
          Fail("deadline passed waiting for the server to close");
          return false;
        }
        ReadSome(std::min(Remaining(), Ms(20)));
      }
      return true;
  }
  return false;
}

}  // namespace pelicore::test
