#pragma once
// Fixture for exact POP3 dialogues: the scripted dialogue of tests/support, a
// component pointed at it, and a log of events in the order they were raised.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/NMpop3.h"
#include "tests/support/Dialogue.h"

namespace pelicore {

using test::Visible;

class Pop3Dialogue : public ::testing::Test, public test::Dialogue {
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

  void Start() {
    Dialogue::Start();
    Pop->Port = Port();
  }
  void StartLoggedIn() {
    Login();
    Start();
    Pop->Connect();
  }

  // An event handler that only notes that it ran.
  TNotifyEvent Note(const std::string& What) {
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

  ComponentPtr<TNMPOP3> Pop = MakeComponent<TNMPOP3>(nullptr);
  std::vector<std::string> Log;
};

using Events = std::vector<std::string>;

}  // namespace pelicore
