#pragma once
// The real window against a scripted server (test::Dialogue): Server()
// scripts bytes the peer sends, Client() a line the window must send next;
// Verify() checks that the script ran as written and that the window sent
// nothing more.

#include <string>
#include <vector>

#include "pop3/NMpop3.h"
#include "tests/app/MainFormFixture.h"
#include "tests/support/Dialogue.h"

namespace pelicore::testing {

// Greeting, login, STAT and the listing, in the order given, of messages of
// the given sizes.
void ScriptLogin(test::Dialogue& D, const std::vector<int>& Numbers, const std::vector<int>& Sizes);

class ScriptedWindowTest : public MainFormTest, public test::Dialogue {
 protected:
  // Messages 1..Sizes.size().
  void Login(const std::vector<int>& Sizes) {
    std::vector<int> Numbers;
    for (std::size_t I = 0; I < Sizes.size(); ++I) Numbers.push_back(static_cast<int>(I) + 1);
    ScriptLogin(*this, Numbers, Sizes);
  }
  void Login(const std::vector<int>& Numbers, const std::vector<int>& Sizes) { ScriptLogin(*this, Numbers, Sizes); }
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

  void ConnectToPeer() { ConnectTo(*this); }
  void ConnectTo(test::Dialogue& D) {
    D.Start();
    if (!Form) Open();
    // Should the window stray from the script, it would wait for a reply that
    // never comes (the window sets no time-out); this ends such a wait so the
    // test fails instead of hanging. No passing test comes near it.
    Form->NMPOP3->TimeOut = 20000;
    Connect("127.0.0.1", D.Port(), "user", "pw");
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
};

inline void ScriptLogin(test::Dialogue& D, const std::vector<int>& Numbers, const std::vector<int>& Sizes) {
  int Total = 0;
  for (int S : Sizes) Total += S;
  D.LoginUntilStat().Server("+OK " + std::to_string(Sizes.size()) + " " + std::to_string(Total) + "\r\n");
  std::string Listing = "+OK\r\n";
  for (std::size_t I = 0; I < Sizes.size(); ++I)
    Listing += std::to_string(Numbers[I]) + " " + std::to_string(Sizes[I]) + "\r\n";
  D.Client("LIST \r\n").Server(Listing + ".\r\n");
}

}  // namespace pelicore::testing
