// Whole messages from a real server: every message of a small corpus comes
// back byte for byte, and its attachments come out as the files that went in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/NMUUE.h"
#include "platform/Streams.h"
#include "pop3/NMpop3.h"
#include "tests/pop3/support/DovecotServer.h"
#include "tests/support/TempFolder.h"

namespace pelicore {
namespace {

using testing::DovecotServer;
using testing::SharedDovecot;
using testing::TempFolder;

// Lines of Data encoded with Method, LF-ended as a stored message has them.
std::string Encoded(const std::string& Data, UUMethods Method) {
  auto Codec = MakeComponent<TNMUUProcessor>(nullptr);
  TMemoryStream In, Out;
  In.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  Codec->InputStream = &In;
  Codec->OutputStream = &Out;
  Codec->Method = Method;
  Codec->Encode();
  std::string Text;
  for (const char C : Out.DataString())
    if (C != '\r') Text += C;
  return Text;
}

std::string Bytes(std::size_t Count, unsigned Seed) {
  std::string S;
  for (std::size_t I = 0; I < Count; ++I) S += static_cast<char>((I * 31 + Seed + I / 7) & 0xFF);
  return S;
}

// A message as the server sends it: CR LF line ends, and a final line end
// when the stored message lacks one.
std::string AsSent(const std::string& Stored) {
  std::string Wire;
  for (const char C : Stored) Wire += C == '\n' ? std::string("\r\n") : std::string(1, C);
  if (!Wire.ends_with("\r\n")) Wire += "\r\n";
  return Wire;
}

struct Sample {
  std::string Text;                                            // as stored, LF line ends
  std::vector<std::pair<std::string, std::string>> Files;      // attachment name and content
};

std::vector<Sample> Corpus() {
  const std::string Binary = Bytes(3000, 1), Uu = Bytes(1000, 2), Plain = "kept as it was\n.leading dot\n";
  return {
      {"Subject: dots\nFrom: a@example.test\n\n.\n..\n.leading\nend\n", {}},
      {"Subject: no final newline\n\nfirst\nlast without newline", {}},
      {"Subject: mixed\nContent-Type: multipart/mixed; boundary=\"=_outer\"\n\npreamble\n--=_outer\n"
       "Content-Type: text/plain\n\nSee the files.\n--=_outer\nContent-Type: application/octet-stream; "
       "name=\"bytes.bin\"\nContent-Transfer-Encoding: base64\n\n" +
           Encoded(Binary, uuMime) +
           "--=_outer\nContent-Type: application/octet-stream; name=\"uu.bin\"\nContent-Transfer-Encoding: X-UUENCODE\n\n"
           "begin 644 uu.bin\n" +
           Encoded(Uu, uuCode) + "end\n--=_outer\nContent-Type: text/plain; name=\"plain.txt\"\n"
           "Content-Transfer-Encoding: x-uuencode\n\n" + Plain + "--=_outer--\nepilogue\n",
       {{"bytes.bin", Binary}, {"uu.bin", Uu}, {"plain.txt", AsSent(Plain)}}},
      {"Subject: alternative\nContent-Type: multipart/alternative; boundary=alt\n\n--alt\n"
       "Content-Type: text/plain\n\nplain\n--alt\nContent-Type: text/html\n\n<p>html</p>\n--alt--\n",
       {{"text.tmp", "<p>html</p>\r\n"}}},
  };
}

TEST(Pop3RetrieveFromDovecot, MessagesAndAttachmentsComeBackExactly) {
  if (DovecotServer::BinaryPath().empty()) GTEST_SKIP() << "dovecot is not installed (package dovecot-pop3d)";
  const std::vector<Sample> Samples = Corpus();
  std::vector<std::string> Texts;
  Texts.reserve(Samples.size());
  for (const Sample& S : Samples) Texts.push_back(S.Text);
  DovecotServer& Server = SharedDovecot();
  Server.AddUser("retrieval", "secret", Texts);
  Server.Start();

  auto Pop = MakeComponent<TNMPOP3>(nullptr);
  Pop->Host = "127.0.0.1";
  Pop->Port = Server.Port();
  Pop->UserID = "retrieval";
  Pop->Password = "secret";
  Pop->Connect();
  ASSERT_EQ(Pop->MailCount, static_cast<std::int32_t>(Samples.size()));
  for (std::size_t I = 0; I < Samples.size(); ++I) {
    SCOPED_TRACE("message " + std::to_string(I + 1));
    TempFolder Attach;
    Pop->SetAttachFilePath(Attach.Path());
    Pop->GetMailMessage(static_cast<std::int32_t>(I + 1));
    // What the window saves: Head, then RawBody, each line with CR LF.
    EXPECT_EQ(Pop->MailMessage->Head.Text() + Pop->MailMessage->RawBody.Text(), AsSent(Samples[I].Text));
    std::vector<std::string> Names;
    for (const auto& [Name, Content] : Samples[I].Files) {
      Names.push_back(Name);
      EXPECT_EQ(TempFolder::ReadFile(Attach.PathOf(Name)), Content) << Name;
    }
    EXPECT_EQ(Pop->MailMessage->Attachments.Items(), Names);
  }
  Pop->Disconnect();
}

}  // namespace
}  // namespace pelicore
