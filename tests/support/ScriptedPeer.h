#pragma once
// A scripted TCP peer for tests of network clients.
//
// The peer listens on 127.0.0.1 with a port of the system's choice (read it
// with Port()), accepts one connection and plays its script on a thread of its
// own: expect a line or a number of bytes, send bytes (in chunks, with gaps),
// pause, close or reset. It records every byte the client sends, during the
// script and after it, until Finish(), so a test can assert exactly what the
// client sent and that it sent nothing more:
//
//   ScriptedPeer Peer;
//   Peer.Send("+OK ready\r\n").ExpectLine("STAT\r\n").Send("+OK 2 320\r\n");
//   Peer.Start();
//   ... connect the client to 127.0.0.1:Peer.Port() and talk ...
//   EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
//   EXPECT_EQ(Peer.Received(), "STAT\r\n");
//
// Every wait of the peer is bounded by the deadline given to the constructor
// (counted from Start()), so a client that never sends or never connects
// makes the script fail instead of hanging the test. A step that does not go
// as scripted (a different line, the client closing early, the deadline)
// ends the script; Finish() then returns false and Errors() says why.
//
// Only POSIX and the standard library are used: the peer does not touch the
// client's event loop, so the client may block or dispatch as it likes.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Loopback.h"

namespace pelicore::test {

class ScriptedPeer {
 public:
  using Ms = std::chrono::milliseconds;

  explicit ScriptedPeer(Ms Deadline = Ms(10000));
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t Port() const { return FListener.Port(); }

  // Script steps, played in order once a client has connected. Add them
  // before Start().

  // Reads up to and including the next LF; it must equal Line.
  ScriptedPeer& ExpectLine(std::string Line);
  // Reads exactly Count bytes, whatever they are.
  ScriptedPeer& ExpectBytes(std::size_t Count);
  // Sends Bytes in pieces of ChunkSize bytes (0: all at once), waiting Gap
  // between two pieces. Small pieces go out at once (no coalescing here).
  ScriptedPeer& Send(std::string Bytes, std::size_t ChunkSize = 0, Ms Gap = Ms(0));
  ScriptedPeer& Pause(Ms Delay);
  // Ends the sending direction (the client sees the peer's close) and goes
  // on recording what the client sends.
  ScriptedPeer& Close();
  // Resets the connection; nothing is recorded afterwards.
  ScriptedPeer& Reset();
  // Waits until the client closes (or resets) the connection.
  ScriptedPeer& ExpectClose();

  // Starts accepting and playing.
  void Start();
  // Waits for the script to end (at most until the deadline), takes in what
  // the client has sent so far, closes the connection and stops the thread.
  // True when every step went as scripted. Call it once, on the test thread.
  bool Finish();

  // Every byte received from the client so far, in order.
  std::string Received() const;
  std::vector<std::string> Errors() const;
  std::string ErrorText() const;  // Errors() joined, for assertion messages
  // Whether the client closed or reset the connection.
  bool ClientClosed() const;
  // Whether every step has been played.
  bool ScriptDone() const;

 private:
  enum class StepKind { ExpectLine, ExpectBytes, Send, Pause, Close, Reset, ExpectClose };
  struct Step {
    StepKind Kind;
    std::string Bytes;
    std::size_t Count = 0;
    Ms Delay{0};
  };
  using Clock = std::chrono::steady_clock;

  void Run();
  bool Accept();
  bool PlayStep(const Step& S);
  // Reads what is there (waiting up to Wait); false when the client closed or
  // an error occurred.
  bool ReadSome(Ms Wait);
  bool SendAll(const char* Data, std::size_t Length);
  void Fail(std::string Why);
  Ms Remaining() const;
  bool Stopping() const;

  std::vector<Step> FSteps;
  Ms FDeadlineLength;
  Clock::time_point FDeadline;
  LoopbackListener FListener;
  int FConnection = -1;
  std::thread FThread;
  std::string FUnmatched;  // received bytes no Expect step has taken yet

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::string FReceived;
  std::vector<std::string> FErrors;
  bool FClientClosed = false;
  bool FScriptDone = false;
  bool FScriptEnded = false;
  bool FStop = false;
  bool FConnectionDone = false;  // closed or reset by the script
};

}  // namespace pelicore::test
