// Splitting stored messages into a text body and attachment files, without a
// connection: the MIME text rules, then whole messages in a temporary
// attachment folder, with the files they leave (names and bytes).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/Strings.h"
#include "pop3/MimeText.h"
#include "pop3/NMpop3.h"
#include "tests/support/TempFolder.h"

namespace pelicore {
namespace {

using Lines = std::vector<std::string>;
using Names = std::set<std::string>;
using testing::TempFolder;

TEST(MimeText, BoundaryParameter) {
  const struct {
    const char* Value;  // what follows "boundary=" on the line
    const char* Boundary;
  } Cases[] = {
      {"\"b1\"", "b1"},
      {"\"Mixed Case=?\"; charset=x", "Mixed Case=?"},
      {"\"with \\\"quote\\\"\"", "with \"quote\""},
      {"\"unterminated", "unterminated"},
      {"tok-en_1; other=2", "tok-en_1"},
      {"token  ", "token"},
      {"token", "token"},
      {"\"\"", ""},
      {"", ""},
  };
  for (const auto& C : Cases) EXPECT_EQ(mime::BoundaryParameter(C.Value), C.Boundary) << C.Value;
}

TEST(MimeText, DelimiterLines) {
  using mime::Delimiter;
  const struct {
    const char* Line;
    Delimiter Kind;
  } Cases[] = {
      {"--b1", Delimiter::Part},      {"--b1  \t", Delimiter::Part}, {"--b1--", Delimiter::Close},
      {"--b1-- ", Delimiter::Close},  {"--b1x", Delimiter::None},    {"--b1--x", Delimiter::None},
      {"text --b1", Delimiter::None}, {"-b1", Delimiter::None},      {"--b", Delimiter::None},
      {"b1", Delimiter::None},
  };
  for (const auto& C : Cases) EXPECT_EQ(mime::DelimiterOf(C.Line, "b1"), C.Kind) << C.Line;
  EXPECT_EQ(mime::DelimiterOf("--", ""), Delimiter::None);  // an empty boundary delimits nothing
}

const std::string k300(300, 'n');
// "é" is two bytes; 200 of them with ".txt" need cutting between sequences.
std::string Accents(int N) {
  std::string S;
  for (int I = 0; I < N; ++I) S += "\xc3\xa9";
  return S;
}

TEST(MimeText, SafeFileNames) {
  const struct {
    std::string Given, Safe;
  } Cases[] = {
      {"a.txt", "a.txt"},
      {"../../x", "x"},
      {"/abs/x", "x"},
      {"a\\b", "b"},
      {"dir/", "text.tmp"},
      {"", "text.tmp"},
      {".", "text.tmp"},
      {"..", "text.tmp"},
      {"...", "..."},
      {std::string("a\x01\tb\x7f\0c.txt", 11), "abc.txt"},
      {"\r\n", "text.tmp"},
      {"=?UTF-8?B?w6Qub2Rn?=", "=?UTF-8?B?w6Qub2Rn?="},  // encoded words are not decoded
      {k300 + ".pdf", std::string(251, 'n') + ".pdf"},
      {k300, std::string(255, 'n')},
      {Accents(200) + ".txt", Accents(125) + ".txt"},  // 250 bytes + 4: no half sequence
      {"x." + k300, ("x." + k300).substr(0, 255)},
  };
  for (const auto& C : Cases) EXPECT_EQ(mime::SafeFileName(C.Given), C.Safe) << C.Given;
}

TEST(MimeText, NumberedNames) {
  EXPECT_EQ(mime::NumberedName("a.txt", 1), "a_1.txt");
  EXPECT_EQ(mime::NumberedName("a.b.txt", 12), "a.b_12.txt");
  EXPECT_EQ(mime::NumberedName("README", 2), "README_2");
  EXPECT_EQ(mime::NumberedName(".profile", 1), ".profile_1");
  EXPECT_EQ(mime::NumberedName(std::string(251, 'n') + ".pdf", 1), std::string(249, 'n') + "_1.pdf");
  EXPECT_EQ(mime::NumberedName(std::string(255, 'n'), 10), std::string(252, 'n') + "_10");
}

// A component whose attachment folder is a fresh temporary folder inside a
// parent that must stay untouched.
class Parts : public ::testing::Test {
 protected:
  Parts() {
    std::filesystem::create_directory(Folder());
    Pop->SetAttachFilePath(Folder());
    Pop->ReportLevel = 1;
    Pop->OnStatus = [this](TComponent*, const std::string& Text) { Log.push_back(Text); };
    Pop->OnDecodeStart = [this](std::string& Name) { Log.push_back("decode start " + Name); };
  }
  std::string Folder() const { return Parent.PathOf("attach"); }
  std::string File(const std::string& Name) const { return TempFolder::ReadFile(Folder() + "/" + Name); }
  Names Files() const {
    Names N;
    for (const auto& E : std::filesystem::directory_iterator(Folder())) N.insert(E.path().filename().string());
    return N;
  }
  // The name of the n-th temporary file from now.
  std::string Temp(int N) const { return "Temp" + IntToStr(FirstTemp + N) + ".mme"; }
  void Parse(const Lines& Message) {
    TStringList L;
    for (const auto& Line : Message) L.Add(Line);
    Pop->ParseMessageLines(L);
  }
  Lines Body() const { return Pop->MailMessage->Body.Items(); }
  Lines Attachments() const { return Pop->MailMessage->Attachments.Items(); }
  void TearDown() override {
    Names InParent;
    for (const auto& E : std::filesystem::directory_iterator(Parent.Path())) InParent.insert(E.path().filename().string());
    EXPECT_EQ(InParent, Names{"attach"}) << "a file was created outside the attachment folder";
  }

  TempFolder Parent;
  ComponentPtr<TNMPOP3> Pop = MakeComponent<TNMPOP3>(nullptr);
  Lines Log;
  const int FirstTemp = TempFileCount;
};

Lines Mixed(const std::string& PartHeader, const Lines& PartLines, const std::string& Boundary = "b1") {
  Lines M{"Subject: mixed", "Content-Type: multipart/mixed; boundary=\"" + Boundary + "\"", "", "preamble",
          "--" + Boundary, "Content-Type: text/plain", "", "text part", "--" + Boundary};
  M.push_back(PartHeader);
  M.emplace_back("");
  M.insert(M.end(), PartLines.begin(), PartLines.end());
  M.push_back("--" + Boundary + "--");
  M.emplace_back("epilogue");
  return M;
}


TEST_F(Parts, Base64AttachmentIsDecodedAndASecondCopyNumbered) {
  const Lines Message =
      Mixed("Content-Disposition: attachment; filename=\"a.txt\"", {"QUJD", "REVG"});
  Lines WithEncoding = Message;
  WithEncoding.insert(WithEncoding.begin() + 10, "Content-Transfer-Encoding: base64");
  Parse(WithEncoding);
  EXPECT_EQ(Pop->MailMessage->Boundary, "b1");
  EXPECT_EQ(Body(), (Lines{"text part", "\r\nFile \"a.txt\" extracted"}));
  EXPECT_EQ(Attachments(), Lines{"a.txt"});
  EXPECT_EQ(File("a.txt"), "ABCDEF");
  EXPECT_EQ(File(Temp(1)), "QUJD\r\nREVG\r\n");  // stays, still encoded
  EXPECT_EQ(Log, (Lines{"Extracting file", "Extracting file", "decode start a.txt", "Decoding file"}));

  Parse(WithEncoding);
  EXPECT_EQ(Attachments(), Lines{"a_1.txt"});
  EXPECT_EQ(File("a_1.txt"), "ABCDEF");
  EXPECT_EQ(Files(), (Names{"a.txt", "a_1.txt", Temp(1), Temp(2)}));
}

TEST_F(Parts, PartsWithoutEncodingAreMovedUnderTheirNames) {
  // multipart/alternative: the HTML part has no name and becomes text.tmp,
  // then text_1.tmp; a name without a dot gets _1 when taken.
  const Lines Alternative{"Content-Type: multipart/alternative; boundary=alt", "", "--alt",
                          "Content-Type: text/plain", "", "plain", "--alt", "Content-Type: text/html", "",
                          "<p>html</p>", "--alt--"};
  Parse(Alternative);
  Parse(Alternative);
  TempFolder::WriteFile(Folder() + "/README", "mine");
  Parse(Mixed("Content-Type: text/plain; name=\"README\"", {"read me"}));
  EXPECT_EQ(Files(), (Names{"text.tmp", "text_1.tmp", "README", "README_1"}));
  EXPECT_EQ(File("text.tmp"), "<p>html</p>\r\n");
  EXPECT_EQ(File("README"), "mine");
  EXPECT_EQ(File("README_1"), "read me\r\n");
  EXPECT_EQ(Body(), (Lines{"text part", "\r\nFile \"README_1\" extracted"}));
}

TEST_F(Parts, HostileNamesStayInsideTheFolder) {
  const struct {
    std::string Header, File;
  } Cases[] = {
      {"Content-Type: x; name=\"../../x\"", "x"},
      {"Content-Type: x; name=\"/abs/y\"", "y"},
      {"Content-Type: x; name=\"a\\b\"", "b"},
      {"Content-Type: x; name=\"\"", "text.tmp"},
      {"Content-Type: x; name=\"..\"", "text_1.tmp"},
      {"Content-Type: x; name=\"c\x01\x1b[2Jd\"", "c[2Jd"},
      {"Content-Type: x; name=\"" + std::string(400, 'z') + ".bin\"", std::string(251, 'z') + ".bin"},
      {"Content-Type: x; name*=UTF-8''%2e%2e%2fz", "text_2.tmp"},  // no quotes: no name
      {"Content-Type: x; name=\"=?UTF-8?Q?=2E=2E/e?=\"", "e?="},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Header);
    Parse(Mixed(C.Header, {"data"}));
    EXPECT_EQ(Attachments(), Lines{C.File});
    EXPECT_EQ(File(C.File), "data\r\n");
  }
  EXPECT_EQ(Files().size(), std::size(Cases));
}

TEST_F(Parts, UuPartsDecodeOnlyTheirDataLines) {
  // Upper-case X-UUENCODE is decoded without its begin and end lines (and the
  // begin line's name is not used); lower-case x-uuencode stays encoded.
  const Lines Uu{"junk before", "begin 644 ../../evil", "#04)#", "`", "end", "junk after"};
  Lines Message = Mixed("Content-Transfer-Encoding: X-UUENCODE", Uu);
  Message.insert(Message.begin() + 10, "Content-Type: application/octet-stream; name=\"u.bin\"");
  Parse(Message);
  EXPECT_EQ(File("u.bin"), "ABC");

  Message[9] = "Content-Transfer-Encoding: x-uuencode";
  Parse(Message);
  EXPECT_EQ(File("u_1.bin"), "junk before\r\nbegin 644 ../../evil\r\n#04)#\r\n`\r\nend\r\njunk after\r\n");
  EXPECT_EQ(Files(), (Names{"u.bin", "u_1.bin", Temp(1)}));
}

TEST_F(Parts, DelimiterLinesAreWholeLines) {
  Parse({"Content-Type: Multipart/Mixed; boundary=\"=_b\"", "", "--=_b", "", "says --=_b inside",
         "--=_b-- not a delimiter", "--=_bx", "--=_b", "Content-Type: text/plain; name=\"p.txt\"", "",
         "--=_b2", "part", "--=_b--", "--=_b", "", "epilogue part"});
  EXPECT_EQ(Body(), (Lines{"says --=_b inside", "--=_b-- not a delimiter", "--=_bx", "\r\nFile \"p.txt\" extracted"}));
  EXPECT_EQ(File("p.txt"), "--=_b2\r\npart\r\n");
}

TEST_F(Parts, MessagesCutOffOrWithoutDelimiters) {
  // Without a closing delimiter the last part ends with the last line.
  Parse({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text", "--b", "X: name=\"c.txt\"", "",
         "cut", "off"});
  EXPECT_EQ(File("c.txt"), "cut\r\noff\r\n");
  // No delimiter at all: the body is kept as text.
  Parse({"Content-Type: multipart/mixed; boundary=b", "", "no", "delimiter"});
  EXPECT_EQ(Body(), (Lines{"no", "delimiter"}));
  EXPECT_EQ(Attachments(), Lines{});
  // A part with no lines leaves its empty temporary file and no attachment.
  Parse({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "text", "--b", "X: name=\"e.txt\"", "",
         "--b--"});
  EXPECT_EQ(Attachments(), Lines{});
  EXPECT_EQ(Files(), (Names{"c.txt", Temp(2)}));
  EXPECT_EQ(File(Temp(2)), "");
}

TEST_F(Parts, TheHandlersNameIsUsedAsGiven) {
  std::vector<std::string> Seen;
  Pop->OnDecodeStart = [&](std::string& Name) {
    Seen.push_back(Name);
    Name = "another.bin";
  };
  Pop->OnDecodeEnd = [&](TComponent* Sender) { Seen.push_back(Sender == Pop.get() ? "decode end" : "?"); };
  Parse(Mixed("Content-Type: x; name=\"a.txt\"", {"one"}));
  EXPECT_EQ(Attachments(), Lines{"another.bin"});
  EXPECT_EQ(Body().back(), "\r\nFile \"another.bin\" extracted");
  EXPECT_EQ(File("another.bin"), "one\r\n");
  // Taken already: the rename does not replace it, the temporary file stays.
  Parse(Mixed("Content-Type: x; name=\"a.txt\"", {"two"}));
  EXPECT_EQ(File("another.bin"), "one\r\n");
  EXPECT_EQ(File(Temp(2)), "two\r\n");
  EXPECT_EQ(Seen, (Lines{"a.txt", "decode end", "a.txt", "decode end"}));
}

TEST_F(Parts, ParseDecodesASinglePartBody) {
  Pop->Parse = true;
  Parse({"Subject: b64", "Content-Transfer-Encoding: base64", "", "bGluZSAxDQpsaW5lIDI="});
  EXPECT_EQ(Body(), (Lines{"line 1", "line 2"}));
  EXPECT_EQ(Attachments(), Lines{"text.tmp"});
  Parse({"Subject: plain", "", "as", "is"});
  EXPECT_EQ(Body(), (Lines{"as", "is"}));
  EXPECT_EQ(Pop->MailMessage->Subject, " plain");
}

}  // namespace
}  // namespace pelicore
