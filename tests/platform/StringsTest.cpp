#include <unistd.h>
#include <cstdio>
#include <gtest/gtest.h>

#include "platform/Exceptions.h"
#include "platform/StringList.h"
#include "platform/Strings.h"

using namespace pelicore;

TEST(Strings, CopyAndPosCountFromOne) {
  EXPECT_EQ(Copy("Subject: Hi\r\n", 9, 13 - 10), " Hi");
  EXPECT_EQ(Copy("abc", 0, 2), "ab");   // index below 1 counts from 1
  EXPECT_EQ(Copy("abc", 3, 10), "c");   // count cut at the end
  EXPECT_EQ(Copy("abc", 4, 1), "");
  EXPECT_EQ(Copy("abc", 2, -1), "");
  EXPECT_EQ(Pos("OK", "+OK 1"), 2);
  EXPECT_EQ(Pos("x", "abc"), 0);
  EXPECT_EQ(Pos("", "abc"), 0);
}

TEST(Strings, TrimRemovesBlanksAndControls) {
  EXPECT_EQ(Trim(" \t1234\r\n"), "1234");
  EXPECT_EQ(TrimLeft("  a "), "a ");
  EXPECT_EQ(TrimRight("  a \r\n"), "  a");
  EXPECT_EQ(Trim("\r\n"), "");
}

TEST(Strings, CaseHelpersTouchOnlyAscii) {
  EXPECT_EQ(UpperCase("x-uuencode é"), "X-UUENCODE é");
  EXPECT_EQ(CompareText("Subject", "SUBJECT"), 0);
  EXPECT_LT(CompareText("a", "B"), 0);
  EXPECT_GT(CompareText("ab", "A"), 0);
}

struct IntCase {
  const char* Text;
  bool Ok;
  std::int32_t Value;
};

TEST(Strings, WholeNumberConversion) {
  const IntCase Cases[] = {
      {"110", true, 110},        {"  110", true, 110},      {"-5", true, -5},
      {"+7", true, 7},           {"0x6E", true, 110},       {"0X6e", true, 110},
      {"$6E", true, 110},        {"x6E", true, 110},        {"X10", true, 16},
      {"2147483647", true, 2147483647}, {"-2147483648", true, -2147483647 - 1},
      {"2147483648", false, 0},  {"0x80000000", false, 0},  {"", false, 0},
      {"   ", false, 0},         {"abc", false, 0},         {"1 1", false, 0},
      {"110 ", false, 0},        {"0x", false, 0},          {"$", false, 0},
      {"-", false, 0},           {"-0x5", false, 0},        {"1.0", false, 0},
  };
  for (const IntCase& C : Cases) {
    SCOPED_TRACE(C.Text);
    std::int32_t V = -1;
    EXPECT_EQ(TryStrToInt(C.Text, V), C.Ok);
    if (C.Ok) {
      EXPECT_EQ(V, C.Value);
    }
  }
  try {
    StrToInt("abc");
    FAIL() << "no exception";
  } catch (const EConvertError& E) {
    EXPECT_EQ(E.Message(), "'abc' は整数ではありません");
  }
  EXPECT_EQ(StrToIntDef("zz", 110), 110);
  EXPECT_EQ(IntToStr(-42), "-42");
  EXPECT_EQ(IntToStr(0), "0");
}

TEST(StringList, TextJoinsWithCrLfAndSplitsAnyLineEnd) {
  TStringList L;
  L.Add("a");
  L.Add("");
  L.Add("b");
  EXPECT_EQ(L.Text(), "a\r\n\r\nb\r\n");
  L.SetText("x\r\ny\nz\r\rw\n\n");
  ASSERT_EQ(L.Count(), 6);
  EXPECT_EQ(L.Items(), (std::vector<std::string>{"x", "y", "z", "", "w", ""}));
}

TEST(StringList, SortedListInsertsInOrderAndFindsWithoutCase) {
  TStringList L;
  L.SetSorted(true);
  L.Add("pear");
  L.Add("Apple");
  L.Add("banana");
  EXPECT_EQ(L.Items(), (std::vector<std::string>{"Apple", "banana", "pear"}));
  EXPECT_EQ(L.IndexOf("APPLE"), 0);
  EXPECT_EQ(L.IndexOf("cherry"), -1);
}

TEST(StringList, IndexErrorsAndAddStringsOfItself) {
  TStringList L;
  L.Add("a");
  EXPECT_THROW(L.Strings(1), ERangeError);
  EXPECT_THROW(L.Delete(-1), ERangeError);
  L.AddStrings(L);
  EXPECT_EQ(L.Count(), 2);
  TStringList M;
  M.Assign(L);
  EXPECT_EQ(M.Items(), L.Items());
}

TEST(StringList, SaveAndLoadRoundTripBytes) {
  const std::string Path = testing::TempDir() + "/pelicore-list-" + std::to_string(::getpid()) + ".txt";
  TStringList L;
  L.Add("ヘッダ: \x01\xff");
  L.Add("");
  L.SaveToFile(Path);
  TStringList M;
  M.LoadFromFile(Path);
  EXPECT_EQ(M.Items(), L.Items());
  std::remove(Path.c_str());
  try {
    L.SaveToFile("/nonexistent-folder/x.eml");
    FAIL();
  } catch (const EFCreateError& E) {
    EXPECT_EQ(E.Message(), "ファイル /nonexistent-folder/x.eml を作成できません");
  }
}
