#pragma once
// An exact POP3 dialogue against the scripted peer: what the server sends,
// each line the client must send next, and at the end a check that the script
// ran as written and that the client sent nothing else.
//
//   Dialogue D;
//   D.Login().Client("LIST \r\n").Server("+OK\r\n.\r\n");
//   D.Start();
//   ... point the client at 127.0.0.1:D.Port() and run it ...
//   D.Verify();
//
// The chunk size given to the constructor (or set later) cuts every server
// reply into pieces of that many bytes (0: whole), so the same dialogue can be
// replayed in pieces to show that the client does not depend on how its input
// arrives; Server(Bytes, Chunk) overrides it for one reply.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/support/ScriptedPeer.h"

namespace pelicore::test {

class Dialogue {
 public:
  explicit Dialogue(std::size_t Chunk = 0) : ChunkSize(Chunk) {}

  Dialogue& Server(const std::string& Bytes) { return Server(Bytes, ChunkSize); }
  Dialogue& Server(const std::string& Bytes, std::size_t Chunk) {
    Peer.Send(Bytes, Chunk);
    return *this;
  }
  // The line the client must send next; it is added to Sent.
  Dialogue& Client(const std::string& Line) {
    Peer.ExpectLine(Line);
    Sent += Line;
    return *this;
  }
  // Greeting, USER and PASS accepted, and STAT sent; its reply is the test's.
  Dialogue& LoginUntilStat(const std::string& User = "user", const std::string& Password = "pw") {
    Server("+OK ready\r\n");
    Client("USER " + User + "\r\n").Server("+OK\r\n");
    Client("PASS " + Password + "\r\n").Server("+OK logged in\r\n");
    return Client("STAT\r\n");
  }
  // Greeting, USER, PASS and STAT, all accepted.
  Dialogue& Login(const std::string& Stat = "+OK 2 320\r\n") { return LoginUntilStat().Server(Stat); }
  Dialogue& Quit() {
    Client("QUIT\r\n").Server("+OK bye\r\n");
    return ExpectClose();
  }
  Dialogue& Pause(std::chrono::milliseconds Delay) {
    Peer.Pause(Delay);
    return *this;
  }
  // The server closes its side (and goes on recording).
  Dialogue& Close() {
    Peer.Close();
    return *this;
  }
  Dialogue& Reset() {
    Peer.Reset();
    return *this;
  }
  // The client closes the connection.
  Dialogue& ExpectClose() {
    Peer.ExpectClose();
    return *this;
  }

  void Start() { Peer.Start(); }
  std::uint16_t Port() const { return Peer.Port(); }

  void Verify() {
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
    EXPECT_EQ(Peer.Received(), Sent) << "the client sent exactly the scripted lines";
  }

  ScriptedPeer Peer;
  std::string Sent;  // every line the script expects from the client
  std::size_t ChunkSize;
};

// Protocol text with its line ends shown, for test names and messages.
inline std::string Visible(const std::string& Text) {
  std::string Out;
  for (const char C : Text) Out += C == '\r' ? std::string("\\r") : C == '\n' ? std::string("\\n") : std::string(1, C);
  return Out;
}

}  // namespace pelicore::test
