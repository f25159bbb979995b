#include <gtest/gtest.h>

#include "tests/support/TempFolder.h"
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "codec/NMUUE.h"
#include "platform/Exceptions.h"
#include "platform/Streams.h"

using namespace pelicore;

namespace {

const char* MethodName(UUMethods M) { return M == uuMime ? "Base64" : "UU"; }

std::string RandomBytes(std::size_t Length, unsigned Seed) {
  std::mt19937 Random(Seed);
  std::string S(Length, '\0');
  for (auto& C : S) C = static_cast<char>(Random() & 0xFF);
  return S;
}

std::string CrLfLines(const std::string& LfText) {
  std::string Out;
  for (const char C : LfText) {
    if (C == '\n') Out += '\r';
    Out += C;
  }
  return Out;
}

// Fails every write once Limit bytes have gone through; or every read.
class FailingStream : public TMemoryStream {
 public:
  std::int64_t WriteLimit = -1;
  bool FailReads = false;
  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    if (FailReads) throw EReadError("Stream read error");
    return TMemoryStream::Read(Buffer, Count);
  }
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    if (WriteLimit >= 0 && Size() + Count > WriteLimit) throw EWriteError("Stream write error");
    return TMemoryStream::Write(Buffer, Count);
  }
};

// Its size promises more bytes than it holds.
class PromisingStream : public TMemoryStream {
 public:
  std::int64_t Size() override { return TMemoryStream::Size() + 100; }
};

// A processor over two memory streams, logging its events.
class Codec : public ::testing::Test {
 protected:
  void SetUp() override {
    Processor->InputStream = &In;
    Processor->OutputStream = &Out;
    Processor->OnBeginEncode = [this](TComponent* S) { Log("begin-encode", S); };
    Processor->OnEndEncode = [this](TComponent* S) { Log("end-encode", S); };
    Processor->OnBeginDecode = [this](TComponent* S) { Log("begin-decode", S); };
    Processor->OnEndDecode = [this](TComponent* S) { Log("end-decode", S); };
  }
  void Log(const char* What, TComponent* Sender) {
    Events.push_back(Sender == Processor.get() ? What : "wrong sender");
  }
  static void Fill(TMemoryStream& S, const std::string& Data) {
    S.Clear();
    S.WriteBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
  }
  std::string Encoded(UUMethods M, const std::string& Data) {
    Fill(In, Data);
    Out.Clear();
    Processor->Method = M;
    Processor->Encode();
    return Out.DataString();
  }
  std::string Decoded(UUMethods M, const std::string& Text) {
    Fill(In, Text);
    In.SetPosition(0);
    Out.Clear();
    Processor->Method = M;
    Processor->Decode();
    return Out.DataString();
  }

  ComponentPtr<TNMUUProcessor> Processor = MakeComponent<TNMUUProcessor>(nullptr);
  TMemoryStream In;
  TMemoryStream Out;
  std::vector<std::string> Events;
};

using Strings = std::vector<std::string>;

}  // namespace

// Every byte value, so every character of both alphabets, against the
// standard encodings of the same bytes; and back.
TEST_F(Codec, EveryByteValueUsesTheStandardAlphabets) {
  std::string Bytes;
  for (int B = 0; B < 256; ++B) Bytes += static_cast<char>(B);
  const std::string Mime =
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKiss\r\n"
      "LS4vMDEyMzQ1Njc4OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZ\r\n"
      "WltcXV5fYGFiY2RlZmdoaWprbG1ub3BxcnN0dXZ3eHl6e3x9fn+AgYKDhIWG\r\n"
      "h4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmqq6ytrq+wsbKz\r\n"
      "tLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g\r\n"
      "4eLj5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==\r\n";
  const std::string Uu =
      "M``$\"`P0%!@<(\"0H+#`T.#Q`1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL\r\n"
      "M+2XO,#$R,S0U-C<X.3H[/#T^/T!!0D-$149'2$E*2TQ-3D]045)35%565UA9\r\n"
      "M6EM<75Y?8&%B8V1E9F=H:6IK;&UN;W!Q<G-T=79W>'EZ>WQ]?G^`@8*#A(6&\r\n"
      "MAXB)BHN,C8Z/D)&2DY25EI>8F9J;G)V>GZ\"AHJ.DI::GJ*FJJZRMKJ^PL;*S\r\n"
      "MM+6VM[BYNKN\\O;Z_P,'\"P\\3%QL?(R<K+S,W.S]#1TM/4U=;7V-G:V]S=WM_@\r\n"
      "?X>+CY.7FY^CIZNOL[>[O\\/'R\\_3U]O?X^?K[_/W^_P\r\n"
      "`\r\n";
  EXPECT_EQ(Encoded(uuMime, Bytes), Mime);
  EXPECT_EQ(Decoded(uuMime, Mime), Bytes);
  EXPECT_EQ(Encoded(uuCode, Bytes), Uu);
  EXPECT_EQ(Decoded(uuCode, Uu), Bytes);
  // Older encoders write a blank for zero where "`" stands now.
  EXPECT_EQ(Decoded(uuCode, "#    \r\n`\r\n"), std::string(3, '\0'));
}

TEST_F(Codec, StartsWithBase64AndNoStreams) {
  auto Fresh = MakeComponent<TNMUUProcessor>(nullptr);
  EXPECT_EQ(Fresh->Method, uuMime);
  EXPECT_EQ(sizeof(Fresh->Method), 1u);
  EXPECT_EQ(Fresh->InputStream, nullptr);
  EXPECT_THROW(Fresh->Encode(), Exception);
  Fresh->InputStream = &In;
  EXPECT_THROW(Fresh->Decode(), Exception);
  // A handler that takes a stream away mid-call meets the same check.
  Fresh->OutputStream = &Out;
  Fresh->OnBeginDecode = [&](TComponent*) { Fresh->InputStream = nullptr; };
  EXPECT_THROW(Fresh->Decode(), Exception);
}

// Reads that deliver nothing end both operations, whatever Size() says.
TEST_F(Codec, StreamThatRunsShortEndsTheOperation) {
  for (const UUMethods M : {uuMime, uuCode}) {
    SCOPED_TRACE(MethodName(M));
    const std::string Text = Encoded(M, "ABC");
    PromisingStream Short;
    Processor->InputStream = &Short;
    Fill(Short, "ABC");
    Out.Clear();
    Processor->Encode();
    EXPECT_EQ(Out.DataString(), Text);

    Fill(Short, Text);
    Short.SetPosition(0);
    Out.Clear();
    Events.clear();
    Processor->Decode();
    EXPECT_EQ(Out.DataString(), "ABC");
    EXPECT_EQ(Events, (Strings{"begin-decode", "end-decode"}));
    Processor->InputStream = &In;
  }
}

struct EncodeCase {
  UUMethods Method;
  std::string Data;
  std::string Text;
};

TEST_F(Codec, EncodesShortInputsWithTheirFraming) {
  const EncodeCase Cases[] = {
      {uuMime, "A", "QQ==\r\n"},
      {uuMime, "AB", "QUI=\r\n"},
      {uuMime, "ABC", "QUJD\r\n"},
      {uuMime, "", ""},
      {uuMime, std::string("\0\xff\x7f", 3), "AP9/\r\n"},
      {uuCode, "A", "!00\r\n`\r\n"},
      {uuCode, "AB", "\"04(\r\n`\r\n"},
      {uuCode, "ABC", "#04)#\r\n`\r\n"},
      {uuCode, "", "`\r\n"},
      {uuCode, std::string(3, '\0'), "#````\r\n`\r\n"},  // zero is never a blank
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(MethodName(C.Method)) + " of \"" + C.Data + "\"");
    Events.clear();
    EXPECT_EQ(Encoded(C.Method, C.Data), C.Text);
    EXPECT_EQ(Events, (Strings{"begin-encode", "end-encode"}));
  }
}

TEST_F(Codec, FullBlockIsOneLine) {
  const std::string Block(45, 'x');
  const std::string Mime = Encoded(uuMime, Block);
  ASSERT_EQ(Mime.size(), 62u);
  EXPECT_EQ(Mime.substr(60), "\r\n");
  EXPECT_EQ(Encoded(uuMime, Block + "y"), Mime + "eQ==\r\n");

  const std::string Uu = Encoded(uuCode, Block);
  ASSERT_EQ(Uu.size(), 1 + 60 + 2 + 3u);
  EXPECT_EQ(Uu[0], 'M');
  EXPECT_EQ(Uu.substr(61), "\r\n`\r\n");
  EXPECT_EQ(Encoded(uuCode, Block + "y"), Uu.substr(0, 63) + "!>0\r\n`\r\n");
}

// Encode reads all of its input whatever its position, writes at the
// output's position and hands the output back at 0.
TEST_F(Codec, EncodePositions) {
  Fill(In, "ABC");  // position 3 after filling
  In.SetPosition(2);
  Fill(Out, "head:");
  Processor->Encode();
  EXPECT_EQ(Out.DataString(), "head:QUJD\r\n");
  EXPECT_EQ(Out.Position(), 0);
  EXPECT_EQ(In.Position(), 3);
}

// Every length, and random data, comes back exactly: also when the last data
// line ends the input (UU without its closing line) or has no line end.
TEST_F(Codec, RoundTrips) {
  for (const UUMethods M : {uuMime, uuCode}) {
    for (std::size_t Length = 1; Length <= 300; ++Length) {
      SCOPED_TRACE(std::string(MethodName(M)) + ", " + std::to_string(Length) + " bytes");
      const std::string Data = RandomBytes(Length, static_cast<unsigned>(Length));
      const std::string Text = Encoded(M, Data);
      ASSERT_EQ(Decoded(M, Text), Data);
      const std::string DataLinesOnly = M == uuCode ? Text.substr(0, Text.size() - 3) : Text;
      ASSERT_EQ(Decoded(M, DataLinesOnly), Data);
      ASSERT_EQ(Decoded(M, DataLinesOnly.substr(0, DataLinesOnly.size() - 2)), Data);
    }
  }
}

struct DecodeCase {
  const char* Name;
  std::string Text;
  std::string Data;
};

TEST_F(Codec, Base64LineRules) {
  const DecodeCase Cases[] = {
      {"empty input", "", ""},
      {"lines of 0 to 2 characters yield nothing", "\r\nQ\r\nQQ\r\nQUJD\r\n", "ABC"},
      {"short lines of = do not end decoding", "=\r\n==\r\nQUJD\r\n", "ABC"},
      {"==== lines yield nothing", "====\r\n=====x\r\nQUJD\r\n", "ABC"},
      {"a longer line starting with = ends decoding", "QUJD\r\n===\r\nQUJD\r\n", "ABC"},
      {"so does = after skipped characters", "QUJD\r\n  =QUJD\r\nQUJD\r\n", "ABC"},
      {"characters before a group are skipped", "*QUJD\r\n", "ABC"},
      {"characters between groups are skipped", "QUJD\t.QUJD\r\n", "ABCABC"},
      {"a line of only skipped characters", "*.*\r\nQUJD\r\n", "ABC"},
      {"padding ends decoding after its line", "QUI=\r\nQUJD\r\n", "AB"},
      {"== padding", "QUJDQQ==\r\nQUJD\r\n", "ABCA"},
      {"last line without a line end", "QUJD\r\nQUI=", "ABCAB"},
      {"lines ended by a lone LF lose nothing", "QUJD\nQUI=\n", "ABCAB"},
      // Fewer than four characters left in a line that is not the last one:
      // what they give, then on with the next line.
      {"cut short after two characters", "QUJDQU\r\nQUJD\r\n", "ABCAABC"},
      {"cut short after three characters", "QUJDQUI\r\nQUJD\r\n", "ABCABABC"},
      // The last group of the input without its padding gives what its
      // characters carry.
      {"unpadded group of three at the end", "QUJDQUI\r\n", "ABCAB"},
      {"unpadded group of two at the end", "QUJDQQ\r\n", "ABCA"},
      {"unpadded group of two on a line of its own", "QUJD\r\nQQ\r\n", "ABCA"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(Decoded(uuMime, C.Text), C.Data);
  }
}

TEST_F(Codec, UuLineRules) {
  const DecodeCase Cases[] = {
      {"empty input", "", ""},
      {"data lines and the closing line", "#04)#\r\n!00\r\n`\r\n", "ABCA"},
      {"the closing line alone drops nothing", "`\r\n#04)#\r\n", "ABC"},
      {"lines of 1 or 2 characters yield nothing", "\r\n!\r\n!0\r\n#04)#\r\n", "ABC"},
      {"a longer line counting 0 drops the next line", "`xyz\r\n#04)#\r\n!00\r\n", "A"},
      {"so does one starting with a blank", " xyz\r\n#04)#\r\n!00\r\n", "A"},
      {"characters beyond the count are not read", "!00zzzz\r\n", "A"},
      {"a line shorter than its count gives what it holds", "#04)\r\n!00\r\n", "ABA"},
      {"down to one byte", "M04\r\n!00\r\n", "AA"},
      {"lines ended by a lone LF lose nothing", "#04)#\n!00\n", "ABCA"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(Decoded(uuCode, C.Text), C.Data);
  }
}

// Lines longer than one read (198 characters of text) are taken in blocks;
// decoding still ends once the input is used up, and Base64 blocks of 200
// characters hold whole groups.
TEST_F(Codec, OverlongLinesNeitherHangNorSkip) {
  const std::string Data = RandomBytes(300, 7);
  std::string Text = Encoded(uuMime, Data);
  std::string OneLine;
  for (const char C : Text)
    if (C != '\r' && C != '\n') OneLine += C;
  EXPECT_EQ(Decoded(uuMime, OneLine + "\r\n"), Data);
  EXPECT_EQ(Decoded(uuMime, OneLine), Data);
  EXPECT_EQ(In.Position(), In.Size());
  Decoded(uuCode, std::string(1000, 'M'));
  EXPECT_EQ(In.Position(), 1000);
}

TEST_F(Codec, ReadLnFromStreamSteps) {
  Fill(In, "ab\r\n\r\nc\nlast");
  In.SetPosition(0);
  std::string Line;
  Processor->ReadLnFromStream(In, Line);
  EXPECT_EQ(Line, "ab");
  EXPECT_EQ(In.Position(), 4);
  Processor->ReadLnFromStream(In, Line);
  EXPECT_EQ(Line, "");
  EXPECT_EQ(In.Position(), 6);
  Processor->ReadLnFromStream(In, Line);
  EXPECT_EQ(Line, "c");
  Processor->ReadLnFromStream(In, Line);
  EXPECT_EQ(Line, "last");
  EXPECT_EQ(In.Position(), In.Size());
  Processor->ReadLnFromStream(In, Line);
  EXPECT_EQ(Line, "");
}

// Decoding goes on from wherever the streams stand and moves neither back.
TEST_F(Codec, DecodeFromTheMiddle) {
  for (const UUMethods M : {uuMime, uuCode}) {
    SCOPED_TRACE(MethodName(M));
    const std::string First = Encoded(M, "first");
    Fill(In, First + Encoded(M, "second"));
    In.SetPosition(static_cast<std::int64_t>(First.size()));
    Fill(Out, "out:");
    Events.clear();
    Processor->Decode();
    EXPECT_EQ(Out.DataString(), "out:second");
    EXPECT_EQ(Out.Position(), 10);
    EXPECT_EQ(In.Position(), In.Size());
    EXPECT_EQ(Events, (Strings{"begin-decode", "end-decode"}));
  }
}

TEST_F(Codec, FailingStreamsStillEndEncodingButNotDecoding) {
  for (const UUMethods M : {uuMime, uuCode}) {
    SCOPED_TRACE(MethodName(M));
    const std::string Text = Encoded(M, "ABCDEF");
    FailingStream BadOut;
    Processor->OutputStream = &BadOut;

    BadOut.WriteLimit = 70;  // the second line fails
    Fill(In, std::string(100, 'x'));
    Events.clear();
    EXPECT_THROW(Processor->Encode(), EWriteError);
    EXPECT_EQ(Events, (Strings{"begin-encode", "end-encode"}));
    EXPECT_EQ(BadOut.Position(), 0);

    BadOut.Clear();
    BadOut.WriteLimit = 2;
    Fill(In, Text);
    In.SetPosition(0);
    Events.clear();
    EXPECT_THROW(Processor->Decode(), EWriteError);
    EXPECT_EQ(BadOut.DataString(), "AB");  // what was decoded before stays written
    EXPECT_EQ(Events, (Strings{"begin-decode"}));
    Processor->OutputStream = &Out;
  }

  FailingStream BadIn;
  Fill(BadIn, "ABC");
  BadIn.FailReads = true;
  Processor->InputStream = &BadIn;
  Fill(Out, "old");
  Events.clear();
  EXPECT_THROW(Processor->Encode(), EReadError);
  EXPECT_EQ(Events, (Strings{"begin-encode", "end-encode"}));
  EXPECT_EQ(Out.Position(), 0);
}

// ------------------------------------------------------------------ files

namespace {

class CodecFiles : public Codec {
 protected:
  std::string PathOf(const std::string& Name) const { return Dir.PathOf(Name); }
  static std::string ContentOf(const std::string& Path) { return pelicore::testing::TempFolder::ReadFile(Path); }
  static void Put(const std::string& Path, const std::string& Data) { pelicore::testing::TempFolder::WriteFile(Path, Data); }
  static bool HaveTool(const std::string& Name) {
    return std::system(("command -v " + Name + " >/dev/null 2>&1").c_str()) == 0;
  }
  static int Run(const std::string& Command) { return std::system(Command.c_str()); }

  // Decodes or encodes one file into another, as the mail client does.
  void Convert(bool Encode, UUMethods M, const std::string& From, const std::string& To) {
    TFileStream Source(From, fmOpenRead);
    TFileStream Target(To, fmCreate);
    Processor->InputStream = &Source;
    Processor->OutputStream = &Target;
    Processor->Method = M;
    if (Encode)
      Processor->Encode();
    else
      Processor->Decode();
    Processor->InputStream = &In;
    Processor->OutputStream = &Out;
  }

  pelicore::testing::TempFolder Dir{"pelicore-codec"};
};

}  // namespace

TEST_F(CodecFiles, RoundTripThroughFiles) {
  const std::string Data = RandomBytes(300000, 11);
  Put(PathOf("data"), Data);
  for (const UUMethods M : {uuMime, uuCode}) {
    SCOPED_TRACE(MethodName(M));
    Convert(true, M, PathOf("data"), PathOf("text"));
    Convert(false, M, PathOf("text"), PathOf("back"));
    EXPECT_EQ(ContentOf(PathOf("back")), Data);
  }
}

// Bytes held back by the file buffer must not hide a failed write.
TEST_F(CodecFiles, WriteFailureOfABufferedFileIsReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
  Put(PathOf("text"), "QUJD\r\n");
  TFileStream Source(PathOf("text"), fmOpenRead);
  TFileStream Full("/dev/full", fmOpenWrite);
  Processor->InputStream = &Source;
  Processor->OutputStream = &Full;
  EXPECT_THROW(Processor->Decode(), EWriteError);
  EXPECT_EQ(Events, (Strings{"begin-decode"}));
  Events.clear();
  EXPECT_THROW(Processor->Encode(), EWriteError);
  EXPECT_EQ(Events, (Strings{"begin-encode", "end-encode"}));
}

TEST_F(CodecFiles, Base64AgreesWithCoreutils) {
  if (!HaveTool("base64")) GTEST_SKIP() << "base64 is not installed";
  const std::string Data = RandomBytes(100000, 5);
  Put(PathOf("data"), Data);
  // Their encoding, in CR LF lines, decoded by us.
  ASSERT_EQ(Run("base64 -w 76 '" + PathOf("data") + "' > '" + PathOf("lf") + "'"), 0);
  Put(PathOf("crlf"), CrLfLines(ContentOf(PathOf("lf"))));
  Convert(false, uuMime, PathOf("crlf"), PathOf("ours"));
  EXPECT_EQ(ContentOf(PathOf("ours")), Data);
  // Our encoding decoded by them, once the CRs are gone.
  Convert(true, uuMime, PathOf("data"), PathOf("text"));
  ASSERT_EQ(Run("tr -d '\\r' < '" + PathOf("text") + "' | base64 -d > '" + PathOf("theirs") + "'"), 0);
  EXPECT_EQ(ContentOf(PathOf("theirs")), Data);
}

TEST_F(CodecFiles, UuLinesAreWhatUudecodeReads) {
  if (!HaveTool("uudecode")) GTEST_SKIP() << "uudecode (sharutils) is not installed";
  for (const std::size_t Length : {1, 2, 3, 44, 45, 46, 100000}) {
    SCOPED_TRACE(Length);
    const std::string Data = RandomBytes(Length, static_cast<unsigned>(Length));
    Put(PathOf("data"), Data);
    Convert(true, uuCode, PathOf("data"), PathOf("text"));
    std::string Text = ContentOf(PathOf("text"));
    std::string Lf;
    for (const char C : Text)
      if (C != '\r') Lf += C;
    Put(PathOf("wrapped"), "begin 644 out\n" + Lf + "end\n");
    std::filesystem::remove(PathOf("theirs"));
    ASSERT_EQ(Run("uudecode -o '" + PathOf("theirs") + "' '" + PathOf("wrapped") + "'"), 0);
    EXPECT_EQ(ContentOf(PathOf("theirs")), Data);
  }
}
