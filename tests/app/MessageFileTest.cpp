// Message files: names made from untrusted Subjects, no file ever replaced,
// and a file that is whole or absent.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "app/MessageFile.h"
#include "platform/Exceptions.h"
#include "tests/app/ReadOnlyFolder.h"
#include "tests/support/TempFolder.h"

namespace pelicore::testing {
namespace {

const std::string Kana = "\xe3\x81\x82";  // one hiragana letter, 3 bytes in UTF-8

TEST(MessageFileName, KeepsTheNameInsideTheFolderAndWithinTheLimit) {
  struct Case {
    std::string Subject, Expected;
  } Cases[] = {
      {"", ".eml"},
      {" Hello", " Hello.eml"},
      {" ../../x", " .._.._x.eml"},
      {"a/b", "a_b.eml"},
      {std::string("a\0b", 3) + "\x01\t\r\n\x1f\x7f" + "c", "a_b______c.eml"},
      {std::string(400, 'a'), std::string(251, 'a') + ".eml"},
      // 83 letters (249 bytes) fit before ".eml"; the 84th would be split.
      {[] { std::string S; for (int I = 0; I < 130; ++I) S += Kana; return S; }(),
       [] { std::string S; for (int I = 0; I < 83; ++I) S += Kana; return S + ".eml"; }()},
  };
  for (const Case& C : Cases) EXPECT_EQ(MessageFileName(C.Subject), C.Expected) << C.Subject;
  EXPECT_EQ(NumberedFileName(".eml", 1), "_1.eml");
  EXPECT_EQ(NumberedFileName("a.b.eml", 12), "a.b_12.eml");
  EXPECT_EQ(NumberedFileName(MessageFileName(std::string(400, 'a')), 3), std::string(249, 'a') + "_3.eml");
}

class MessageFileTest : public ::testing::Test {
 protected:
  std::set<std::string> Entries() const {
    std::set<std::string> Names;
    for (const auto& E : std::filesystem::directory_iterator(Temp.Path())) Names.insert(E.path().filename());
    return Names;
  }
  std::string Write(const std::string& Name) { return WriteMessageFile(Folder, Name, Head, Body); }

  TempFolder Temp{"pelicore-file"};
  const std::string Folder = Temp.Path() + "/";
  TStringList Head, Body;
};

TEST_F(MessageFileTest, WritesEveryLineWithCrLfAndNeverReplacesAFile) {
  Head.Add("Subject: x");
  Head.Add("");
  Body.Add("line");
  Body.Add(std::string(3 << 20, 'y'));  // longer than one write
  Body.Add("");
  const std::string Content = "Subject: x\r\n\r\nline\r\n" + std::string(3 << 20, 'y') + "\r\n\r\n";
  TempFolder::WriteFile(Folder + "x.eml", "old");
  TempFolder::WriteFile(Folder + "x_2.eml", "older");
  EXPECT_EQ(Write("x.eml"), Folder + "x_1.eml");
  EXPECT_EQ(Write("x.eml"), Folder + "x_3.eml");
  EXPECT_EQ(TempFolder::ReadFile(Folder + "x.eml"), "old");
  EXPECT_EQ(TempFolder::ReadFile(Folder + "x_2.eml"), "older");
  EXPECT_EQ(TempFolder::ReadFile(Folder + "x_1.eml"), Content);
  EXPECT_EQ(TempFolder::ReadFile(Folder + "x_3.eml"), Content);
  EXPECT_EQ(Entries(), (std::set<std::string>{"x.eml", "x_1.eml", "x_2.eml", "x_3.eml"}));
}

TEST_F(MessageFileTest, FailuresLeaveNothingBehind) {
  Body.Add(std::string(1000, 'z'));
  {
    ReadOnlyFolder Locked(Temp.Path());
    try {
      Write("m.eml");
      ADD_FAILURE() << "created in a read-only folder";
    } catch (const EFCreateError& E) {
      EXPECT_EQ(E.Message(), "ファイル " + Folder + "m.eml を作成できません");
    }
  }
  // A full disk: a file size limit, which binds root as well.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit Old{};
  ::getrlimit(RLIMIT_FSIZE, &Old);
  rlimit Small = Old;
  Small.rlim_cur = 100;
  ::setrlimit(RLIMIT_FSIZE, &Small);
  std::string Error;
  try {
    Write("m.eml");
  } catch (const EWriteError& E) {
    Error = E.Message();
  }
  ::setrlimit(RLIMIT_FSIZE, &Old);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(Error, Folder + "m.eml に書き込めません");
  EXPECT_TRUE(Entries().empty());
}

}  // namespace
}  // namespace pelicore::testing
