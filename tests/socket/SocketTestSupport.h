#pragma once
// Helpers shared by the socket component's tests.

#include <string>
#include <vector>

#include "platform/Component.h"
#include "socket/Psock.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore::test {

using SocketPtr = ComponentPtr<TZedadedar>;

inline SocketPtr NewSocket() { return MakeComponent<TZedadedar>(nullptr); }

// A component connected to the peer (which must have been started).
inline SocketPtr ConnectedTo(const ScriptedPeer& Peer) {
  SocketPtr S = NewSocket();
  S->Host = "127.0.0.1";
  S->Port = Peer.Port();
  S->Connect();
  return S;
}

// Records status texts and, in the same list, marks written by event handlers,
// so that a test can assert the order of both.
struct EventLog {
  std::vector<std::string> Lines;
  void RecordStatus(TZedadedar& S) {
    S.OnStatus = [this](TComponent*, const std::string& Status) { Lines.push_back(Status); };
  }
  void Mark(const std::string& What) { Lines.push_back("<" + What + ">"); }
};

}  // namespace pelicore::test
