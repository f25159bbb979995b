#pragma once
// Fixture for exact POP3 dialogues: a scripted loopback server, a component
// pointed at it, and a log of events in the order they were raised.
//
// Client(line) scripts a line the component must send next and adds it to
// the bytes the whole test expects to have been sent; at the end Verify()
// checks the script ran as written and that nothing else was sent.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/NMpop3.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore {

class Pop3Dialogue : public ::testing::Test {
 public:
  Pop3Dialogue() {
    Pop->Host = "127.0.0.1";
    Pop->UserID = "user";
    Pop->Password = "pw";
    // A client that strays from the script waits for a reply the peer never
    // sends; this ends such a wait so the test fails instead of hanging. No
    // reply of a passing test comes anywhere near it.
    Pop->TimeOut = 20000;
  }

  Pop3Dialogue& Server(const std::string& Bytes, std::size_t Chunk = 0) {
    Peer.Send(Bytes, Chunk);
    return *this;
  }
  Pop3Dialogue& Client(const std::string& Line) {
    Peer.ExpectLine(Line);
    Sent += Line;
    return *this;
  }
  // Greeting, USER, PASS and STAT, all accepted.
  Pop3Dialogue& Login(const std::string& Stat = "+OK 2 320\r\n") {
    Server("+OK ready\r\n");
    Client("USER user\r\n").Server("+OK\r\n");
    Client("PASS pw\r\n").Server("+OK logged in\r\n");
    return Client("STAT\r\n").Server(Stat);
  }
  Pop3Dialogue& Quit() {
    Client("QUIT\r\n").Server("+OK bye\r\n");
    Peer.ExpectClose();
    return *this;
  }

  void Start() {
    Peer.Start();
    Pop->Port = Peer.Port();
  }
  void StartLoggedIn() {
    Login();
    Start();
    Pop->Connect();
  }

  void Verify() {
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
    EXPECT_EQ(Peer.Received(), Sent);
  }

  // An event handler that only notes that it ran.
  TNotifyEvent Note(std::string What) {
    return [this, What](TComponent*) { Log.push_back(What); };
  }
  // Runs Body and notes the text of the exception it ends with, if any.
  template <class F>
  void NoteFailure(F&& Body) {
    try {
      Body();
      Log.push_back("no exception");
    } catch (const Exception& E) {
      Log.push_back("exception: " + E.Message());
    }
  }

  test::ScriptedPeer Peer;
  ComponentPtr<TNMPOP3> Pop = MakeComponent<TNMPOP3>(nullptr);
  std::string Sent;
  std::vector<std::string> Log;
};

using Events = std::vector<std::string>;

// Protocol text with its line ends shown, for test names and messages.
inline std::string Visible(const std::string& Text) {
  std::string Out;
  for (const char C : Text) Out += C == '\r' ? std::string("\\r") : C == '\n' ? std::string("\\n") : std::string(1, C);
  return Out;
}

}  // namespace pelicore
