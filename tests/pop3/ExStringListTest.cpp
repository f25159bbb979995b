#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pop3/NMExtstr.h"

namespace pelicore {
namespace {

std::vector<std::string> Entries(const TExStringList& L) { return L.Items(); }

TExStringList Make(const std::vector<std::string>& Lines, bool Sorted) {
  TExStringList L;
  for (auto& S : Lines) L.Add(S);
  L.SetSorted(Sorted);
  return L;
}

// The header of a summary as it arrives: continuation line, blank line and
// the final "." have no colon.
const std::vector<std::string> kHeader = {
    "Subject: Hello", "From: a",  "X-Long:  two blanks", "\tfolded, no colon",
    "Empty:",         "X-A: 1",   "X: 2",                "",
    "."};

struct Lookup {
  const char* Name;
  const char* Entry;  // the entry found, nullptr for none
  const char* Value;
};

const Lookup kLookups[] = {
    {"subject", "Subject: Hello", "Hello"},  // any case; one blank removed
    {"SUBJECT", "Subject: Hello", "Hello"},
    {"From", "From: a", "a"},
    {"x-long", "X-Long:  two blanks", " two blanks"},  // only one of two blanks removed
    {"Empty", "Empty:", ""},
    {"X", "X: 2", "2"},  // sorted, "X-A: 1" comes before it
    {"X-A", "X-A: 1", "1"},
    {"Missing", nullptr, ""},
    {"", nullptr, ""},  // lines without a colon have no name
    {".", nullptr, ""},
    {"\tfolded, no colon", nullptr, ""},
    {"Subj", nullptr, ""},  // a prefix of a name is not the name
};

class ExStringListLookup : public ::testing::TestWithParam<bool> {};

TEST_P(ExStringListLookup, FindsByNameWithoutRegardToCase) {
  const TExStringList L = Make(kHeader, GetParam());
  for (const Lookup& C : kLookups) {
    SCOPED_TRACE(std::string("name '") + C.Name + "'");
    const int I = L.IndexOfName(C.Name);
    if (C.Entry) {
      ASSERT_GE(I, 0);
      EXPECT_EQ(L[I], C.Entry);
    } else {
      EXPECT_EQ(I, -1);
    }
    EXPECT_EQ(L.GetValue(C.Name), C.Value);
  }
}

TEST_P(ExStringListLookup, EmptyListFindsNothing) {
  TExStringList L;
  L.SetSorted(GetParam());
  EXPECT_EQ(L.IndexOfName("Subject"), -1);
  EXPECT_EQ(L.GetValue("Subject"), "");
}

INSTANTIATE_TEST_SUITE_P(SortedAndUnsorted, ExStringListLookup, ::testing::Bool(),
                         [](const auto& Info) { return Info.param ? "Sorted" : "Unsorted"; });

TEST(ExStringList, UnsortedIndexIsTheFirstMatchInListOrder) {
  const TExStringList L = Make({"Received: 1", "subject: Hello", "Received: 2", "From: a"}, false);
  EXPECT_EQ(L.IndexOfName("SUBJECT"), 1);
  EXPECT_EQ(L.IndexOfName("received"), 0);
  EXPECT_EQ(L.GetValue("Received"), "1");
}

TEST(ExStringList, UnsortedSetValueReplacesAppendsAndDeletesInPlace) {
  TExStringList L = Make({"Subject: Hello", "From: a", "To: b"}, false);

  L.SetValue("FROM", "c");  // the name as passed replaces the old spelling
  L.SetValue("Cc", "d");    // a new name goes to the end
  EXPECT_EQ(Entries(L), (std::vector<std::string>{"Subject: Hello", "FROM: c", "To: b", "Cc: d"}));

  L.SetValue("subject", "");  // an empty value deletes; the rest keep their order
  L.SetValue("Missing", "");  // nothing to delete
  EXPECT_EQ(Entries(L), (std::vector<std::string>{"FROM: c", "To: b", "Cc: d"}));
}

TEST(ExStringList, SortedSetValueKeepsTheListSorted) {
  TExStringList L = Make({"Subject: Hello", "From: a", "To: b"}, true);

  L.SetValue("Cc", "d");
  L.SetValue("subject", "Bye");
  L.SetValue("From", "");
  EXPECT_EQ(Entries(L), (std::vector<std::string>{"Cc: d", "subject: Bye", "To: b"}));
  EXPECT_EQ(L.GetValue("SUBJECT"), "Bye");
  EXPECT_EQ(L.GetValue("cc"), "d");
}

}  // namespace
}  // namespace pelicore
