#pragma once
// A scripted TCP client for tests of servers: connects to 127.0.0.1 on a
// port and plays its script on a thread of its own (send bytes, expect a
// line, pause, close its sending side, expect the server's close), recording
// every byte the server sends. The test thread meanwhile dispatches its event
// loop, in which the server under test accepts:
//
//   ScriptedClient Client(Port);
//   Client.ExpectLine("+OK hello\r\n").Send("QUIT\r\n").ExpectClose();
//   Client.Start();
//   PumpUntil([&] { return Client.Ended(); });
//   EXPECT_TRUE(Client.Finish()) << Client.ErrorText();
//
// Every wait is bounded by the deadline (counted from Start()); a step that
// does not go as scripted ends the script and Finish() returns false.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pelicore::test {

class ScriptedClient {
 public:
  using Ms = std::chrono::milliseconds;

  explicit ScriptedClient(std::uint16_t Port, Ms Deadline = Ms(10000));
  ~ScriptedClient();
  ScriptedClient(const ScriptedClient&) = delete;
  ScriptedClient& operator=(const ScriptedClient&) = delete;

  ScriptedClient& Send(std::string Bytes);
  // Reads up to and including the next LF; it must equal Line.
  ScriptedClient& ExpectLine(std::string Line);
  ScriptedClient& Pause(Ms Delay);
  // Ends the sending direction; the server sees the client's close.
  ScriptedClient& Close();
  // Waits until the server closes the connection.
  ScriptedClient& ExpectClose();

  void Start();
  // Whether the script has ended (played, failed or out of time).
  bool Ended() const { return FEnded; }
  // Waits for the end, closes the connection; true when every step went as
  // scripted.
  bool Finish();

  std::string Received() const;
  std::string ErrorText() const;
  // The client's own port once connected (0 before).
  std::uint16_t LocalPort() const { return FLocalPort; }

 private:
  enum class StepKind { Send, ExpectLine, Pause, Close, ExpectClose };
  struct Step {
    StepKind Kind;
    std::string Bytes;
    Ms Delay{0};
  };
  using Clock = std::chrono::steady_clock;

  void Run();
  bool Play(const Step& S);
  // Reads what arrives within the wait; false when the server closed.
  bool ReadSome(Ms Wait);
  void Fail(std::string Why);
  Ms Remaining() const;

  std::uint16_t FPort;
  Ms FDeadlineLength;
  Clock::time_point FDeadline;
  std::vector<Step> FSteps;
  std::thread FThread;
  int FSocket = -1;
  std::string FUnmatched;
  std::atomic<std::uint16_t> FLocalPort{0};
  std::atomic<bool> FEnded{false};
  bool FServerClosed = false;

  mutable std::mutex FLock;
  std::string FReceived;
  std::vector<std::string> FErrors;
};

}  // namespace pelicore::test
