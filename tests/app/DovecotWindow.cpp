#include "tests/app/DovecotWindow.h"

namespace pelicore::testing {

namespace {

// A message whose size on the wire is exactly Size octets.
std::string MessageOfWireSize(std::size_t Size) {
  std::string Text = "Subject: sized\n\n";
  Text += std::string(Size - WireSize(Text) - 2, 'x') + "\n";
  EXPECT_EQ(WireSize(Text), Size);
  return Text;
}

std::vector<std::string> Numbered(int Count) {
  std::vector<std::string> Messages;
  for (int N = 1; N <= Count; ++N) Messages.push_back(NumberedMessage(N));
  return Messages;
}

}  // namespace

std::string NumberedMessage(int N) {
  const std::string Id = std::to_string(N);
  return "Subject: Message " + Id + "\nFrom: sender" + Id + "@example.test\nMessage-ID: <" + Id +
         "@example.test>\n\nBody " + Id + "\n";
}

const std::vector<std::string>& DownloadCorpus() {
  static const std::vector<std::string> Corpus = {};
  return Corpus;
}

DovecotServer& AppDovecot() {
  static DovecotServer& Server = []() -> DovecotServer& {
    DovecotServer& S = SharedDovecot();
    S.AddUser("listing", "secret", {MessageOfWireSize(100), MessageOfWireSize(1023), MessageOfWireSize(1024)});
    S.AddUser("empty", "secret", {});
    S.AddUser("twelve", "secret", Numbered(12));
    S.AddUser("deleting", "secret", Numbered(5));
    S.AddUser("corpus", "secret", DownloadCorpus());
    S.Start();
    return S;
  }();
  return Server;
}

}  // namespace pelicore::testing
