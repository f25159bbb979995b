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

const std::vector<CorpusMessage>& DownloadCorpus() {
  static const std::vector<CorpusMessage> Corpus = {
      {"Subject: Hello\nFrom: Alice <alice@example.test>\n\nHi there.\nSecond line.\n", " Hello.eml"},
      {"Subject: Dots\n\nbefore\n.\n..twice\n.x\nafter\n", " Dots.eml"},
      {"Subject: Empty body\n\n", " Empty body.eml"},
      {"Subject: No final newline\n\nfirst\nlast without newline", " No final newline.eml"},
      {"Subject: \xe4\xbb\xb6\xe5\x90\x8d\n\n\xe6\x9c\xac\xe6\x96\x87\n", " \xe4\xbb\xb6\xe5\x90\x8d.eml"},
      {"From: nobody@example.test\n\nNo subject at all.\n", ".eml"},
      {"Subject: ../../x\n\nclimbing\n", " .._.._x.eml"},
      {"Subject: a/b\n\nslash\n", " a_b.eml"},
      {"Subject: tab\there\x01\x7f\n\ncontrols\n", " tab_here__.eml"},
      {"Subject: " + std::string(400, 'L') + "\n\nlong subject\n", " " + std::string(250, 'L') + ".eml"},
      {"Subject: Twice\n\nfirst\n", " Twice.eml"},
      {"Subject: Twice\n\nsecond\n", " Twice_1.eml"},
      {"Subject: Long line\n\n" + std::string(100000, 'q') + "\n", " Long line.eml"},
      {"Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\nFrom: =?UTF-8?B?5bGx55Sw?= <yamada@example.test>\n\n"
       "encoded words\n",
       " =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=.eml"},
      {"Subject: Parts\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XYZ\"\n\n"
       "preamble\n--XYZ\nContent-Type: text/plain\n\nfirst part\n--XYZ\n"
       "Content-Type: text/plain; name=\"note.txt\"\n\nsecond part\n--XYZ--\n",
       " Parts.eml"},
  };
  return Corpus;
}

std::vector<std::string> CorpusTexts() {
  std::vector<std::string> Texts;
  for (const CorpusMessage& M : DownloadCorpus()) Texts.push_back(M.Text);
  return Texts;
}

DovecotServer& AppDovecot() {
  static DovecotServer& Server = []() -> DovecotServer& {
    DovecotServer& S = SharedDovecot();
    S.AddUser("listing", "secret", {MessageOfWireSize(100), MessageOfWireSize(1023), MessageOfWireSize(1024)});
    S.AddUser("empty", "secret", {});
    S.AddUser("twelve", "secret", Numbered(12));
    S.AddUser("deleting", "secret", Numbered(5));
    S.AddUser("corpus", "secret", CorpusTexts());
    S.Start();
    return S;
  }();
  return Server;
}

}  // namespace pelicore::testing
