// Status texts and their levels, the error table and the turning of socket
// errors into exceptions.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Sockets.h"
#include "socket/Psock.h"
#include "tests/socket/SocketTestSupport.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore::test {
namespace {

TEST(SocketErrorStr, GivesNumberColonTextForKnownCodes) {
  SocketPtr S = NewSocket();
  const std::pair<std::uint16_t, std::string> Cases[] = {
      {10061, "10061:Connection refused"},
      {11001, "11001:Host not found"},
      {10004, "10004:Interrupted system call"},
      {0, ""},
      {12345, "Unknown Error No. 12345"},
  };
  for (const auto& [Code, Text] : Cases) EXPECT_EQ(S->SocketErrorStr(Code), Text) << Code;
  EXPECT_EQ(WinsockMessage.back().Code, 0);
  EXPECT_STREQ(WinsockMessage.back().Text, "Unrecognized error code");
}

TEST(ErrorManager, IgnoresWouldBlockAndNonSocketErrorsAndRaisesTheRest) {
  SocketPtr S = NewSocket();
  std::vector<std::string> Errors;
  S->OnError = [&](TComponent*, std::uint16_t Errno, const std::string& Text) {
    Errors.push_back(std::to_string(Errno) + " " + Text);
  };

  for (const int Quiet : {10035, 5, 0}) {
    net::SetLastError(Quiet);
    EXPECT_EQ(S->ErrorManager(10035), "");
    EXPECT_EQ(S->LastErrorNo, Quiet);
  }
  EXPECT_TRUE(Errors.empty());

  net::SetLastError(10054);
  try {
    S->ErrorManager(10035);
    ADD_FAILURE() << "a reset was not raised";
  } catch (const ESockError& E) {
    EXPECT_EQ(E.Message(), "10054:Connection reset by peer");
  }
  EXPECT_EQ(Errors, std::vector<std::string>{"10054 10054:Connection reset by peer"});
  EXPECT_EQ(S->LastErrorNo, 10054);

  // An exception from the error handler replaces the socket error.
  S->OnError = [](TComponent*, std::uint16_t, const std::string&) { throw Exception("from handler"); };
  net::SetLastError(10061);
  try {
    S->ErrorManager(10035);
  } catch (const ESockError&) {
    ADD_FAILURE() << "the handler's exception was replaced";
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "from handler");
  }
}

TEST(SetWSAError, RaisesOnErrorWithTheTableTextButNoException) {
  SocketPtr S = NewSocket();
  std::vector<std::string> Errors;
  S->OnError = [&](TComponent*, std::uint16_t Errno, const std::string& Text) {
    Errors.push_back(std::to_string(Errno) + " " + Text);
  };
  S->SetWSAError(10060, "");
  S->SetWSAError(10061, "own text");
  EXPECT_EQ(Errors, (std::vector<std::string>{"10060 10060:Connection timed out", "10061 own text"}));
  EXPECT_EQ(S->GetLastErrorNo(), 10061);
  EXPECT_EQ(net::LastError(), 10061);
  S->SetLastErrorNo(7);
  EXPECT_EQ(S->LastErrorNo, 7);
  EXPECT_EQ(net::LastError(), 10061);
}

struct LevelCase {
  std::int32_t ReportLevel;
  std::vector<std::string> Expected;
};

TEST(StatusMessage, ReportLevelFiltersTheTextsOfASend) {
  const LevelCase Cases[] = {
      {0, {}},
      {1, {}},
      {4, {"Sending Buffer"}},
      {8, {"Writeln", "Write", "Sending Buffer", "Timer On", "Timer Off"}},
  };
  ScriptedPeer Peer;
  for (std::size_t I = 0; I < std::size(Cases); ++I) Peer.ExpectLine("NOOP\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  for (const LevelCase& C : Cases) {
    SCOPED_TRACE(C.ReportLevel);
    EventLog Log;
    Log.RecordStatus(*S);
    S->ReportLevel = C.ReportLevel;
    S->LastStatus.clear();
    S->Writeln("NOOP");
    EXPECT_EQ(Log.Lines, C.Expected);
    EXPECT_EQ(S->LastStatus, C.Expected.empty() ? "" : C.Expected.back());
  }
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
}

TEST(StatusMessage, AFailingStatusHandlerDoesNotDisturbTheOperation) {
  ScriptedPeer Peer;
  Peer.ExpectLine("NOOP\r\n").Send("+OK\r\n");
  Peer.Start();
  SocketPtr S = ConnectedTo(Peer);
  S->ReportLevel = StatusLevel::Trace;
  S->OnStatus = [](TComponent*, const std::string&) { throw Exception("status handler failed"); };
  EXPECT_EQ(S->Transaction("NOOP"), "+OK\r\n");
  EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
  EXPECT_EQ(Peer.Received(), "NOOP\r\n");
}

}  // namespace
}  // namespace pelicore::test
