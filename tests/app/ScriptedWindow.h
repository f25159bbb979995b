#pragma once
// The real window against a scripted server: Server() scripts bytes the peer
// sends, Client() a line the window must send next; Verify() checks that the
// script ran as written and that the window sent nothing more.

#include <optional>
#include <string>

#include "pop3/NMpop3.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/ScriptedPeer.h"

namespace pelicore::testing {

class ScriptedWindowTest : public MainFormTest {
 protected:
  void Server(const std::string& Bytes, std::size_t Chunk = 0,
              test::ScriptedPeer::Ms Gap = test::ScriptedPeer::Ms(0)) {
    Peer.Send(Bytes, Chunk, Gap);
  }
  void Client(const std::string& Line) {
    Peer.ExpectLine(Line);
    Sent += Line;
  }
  // Greeting, login, STAT and the listing of messages 1..Sizes.size().
  void Login(const std::vector<int>& Sizes) {
    std::vector<int> Numbers;
    for (std::size_t I = 0; I < Sizes.size(); ++I) Numbers.push_back(static_cast<int>(I) + 1);
    Login(Numbers, Sizes);
  }
  // The listing in the order given.
  void Login(const std::vector<int>& Numbers, const std::vector<int>& Sizes) {
    Server("+OK ready\r\n");
    Client("USER user\r\n");
    Server("+OK\r\n");
    Client("PASS pw\r\n");
    Server("+OK logged in\r\n");
    Client("STAT\r\n");
    int Total = 0;
    for (int S : Sizes) Total += S;
    Server("+OK " + std::to_string(Sizes.size()) + " " + std::to_string(Total) + "\r\n");
    Client("LIST \r\n");
    std::string Listing = "+OK\r\n";
    for (std::size_t I = 0; I < Sizes.size(); ++I)
      Listing += std::to_string(Numbers[I]) + " " + std::to_string(Sizes[I]) + "\r\n";
    Server(Listing + ".\r\n");
  }
  // The header lines of message N as the summaries of these tests give them.
  static std::string HeaderOf(int N) {
    const std::string Id = std::to_string(N);
    return "Subject: S" + Id + "\r\nFrom: f" + Id + "@example.test\r\nMessage-ID: <" + Id + "@example.test>\r\n\r\n";
  }
  // TOP N 0 and LIST N, both answered.
  void Summary(int N, int Size = 100) {
    Client("TOP " + std::to_string(N) + " 0\r\n");
    Server("+OK\r\n" + HeaderOf(N) + ".\r\n");
    Client("LIST " + std::to_string(N) + "\r\n");
    Server("+OK " + std::to_string(N) + " " + std::to_string(Size) + "\r\n");
  }

  void ConnectToPeer() {
    Peer.Start();
    if (!Form) Open();
    // Should the window stray from the script, it would wait for a reply that
    // never comes (the window sets no time-out); this ends such a wait so the
    // test fails instead of hanging. No passing test comes near it.
    Form->NMPOP3->TimeOut = 20000;
    Connect("127.0.0.1", Peer.Port(), "user", "pw");
  }
  void Verify() {
    EXPECT_TRUE(Peer.Finish()) << Peer.ErrorText();
    EXPECT_EQ(Peer.Received(), Sent) << "nothing more was sent";
  }

  // Row I's cells from column 2 on (Subject, From, MessageID and any
  // appended after them), joined by "|".
  std::string SubItems(int I) const {
    QTreeWidgetItem* Row = Form->MailListView->topLevelItem(I);
    std::string Text;
    for (int C = 2; C < Row->columnCount(); ++C) Text += (C > 2 ? "|" : "") + Row->text(C).toStdString();
    return Text;
  }
  void Select(int I) { Form->MailListView->setCurrentItem(Form->MailListView->topLevelItem(I)); }

  // A fresh server for the next connection of the same test.
  void NextPeer() {
    FPeerSlot.emplace();
    Sent.clear();
  }

 private:
  std::optional<test::ScriptedPeer> FPeerSlot{std::in_place};

 protected:
  test::ScriptedPeer& Peer = *FPeerSlot;  // the same object across NextPeer()
  std::string Sent;
};

}  // namespace pelicore::testing
