// The word splitters of protocol replies.

#include <gtest/gtest.h>

#include <string>

#include "socket/Psock.h"

namespace pelicore {
namespace {

struct WordCase {
  std::string Text;
  char Delimiter;
  std::int32_t N;
  std::string Word;
};

TEST(NthWord, SplitsAtSingleDelimitersAndTrimsNothing) {
  const WordCase Cases[] = {
      {"+OK 2 320\r\n", ' ', 1, "+OK"},
      {"+OK 2 320\r\n", ' ', 2, "2"},
      {"+OK 2 320\r\n", ' ', 3, "320\r\n"},
      {"+OK 2 320\r\n", ' ', 4, ""},
      {"a  b", ' ', 2, ""},
      {"a  b", ' ', 3, "b"},
      {" lead", ' ', 1, ""},
      {" lead", ' ', 2, "lead"},
      {"a b", ' ', 0, ""},
      {"a b", ' ', -1, ""},
      {"", ' ', 1, ""},
      {"a,b", ',', 2, "b"},
  };
  for (const WordCase& C : Cases)
    EXPECT_EQ(NthWord(C.Text, C.Delimiter, C.N), C.Word) << '"' << C.Text << "\" N=" << C.N;
}

struct PosCase {
  std::string Text;
  std::int32_t N;
  std::int32_t Position;
};

TEST(NthPos, FindsTheNthDelimiterOrGivesLengthPlusOne) {
  const PosCase Cases[] = {
      {"a,b,c", 1, 2}, {"a,b,c", 2, 4}, {"a,b,c", 3, 6}, {"a,b,", 2, 5},
      {"a,b,", 1, 2},  {"", 1, 1},      {",", 1, 2},     {"abc", 1, 4},
  };
  for (const PosCase& C : Cases) EXPECT_EQ(NthPos(C.Text, ',', C.N), C.Position) << '"' << C.Text << "\" N=" << C.N;
}

}  // namespace
}  // namespace pelicore
