#include "pop3/NMExtstr.h"

#include "platform/Strings.h"

namespace pelicore {

namespace {

// The name part of an entry, or false when the entry has no colon.
bool NamePart(const std::string& Entry, std::string_view& Name) {
  const auto Colon = Entry.find(':');
  if (Colon == std::string::npos) return false;
  Name = std::string_view(Entry).substr(0, Colon);
  return true;
}

bool HasName(const std::string& Entry, std::string_view Name) {
  std::string_view Own;
  return NamePart(Entry, Own) && SameText(Own, Name);
}

}  // namespace

int TExStringList::IndexOfName(std::string_view Name) const {
  if (Sorted()) {
    // The list is ordered by whole entries, so the entries named Name are the
    // ones that begin with "Name:" and the first of them is where that prefix
    // would be inserted. Searching by name parts instead would miss entries
    // whenever a name is a prefix of another one followed by a character that
    // sorts before the colon ("X-A: 1" comes before "X: 2").
    int Index = 0;
    Find(std::string(Name) + ":", Index);
    return Index < Count() && HasName(Strings(Index), Name) ? Index : -1;
  }
  for (int I = 0; I < Count(); ++I)
    if (HasName(Strings(I), Name)) return I;
  return -1;
}

std::string TExStringList::GetValue(std::string_view Name) const {
  const int I = IndexOfName(Name);
  if (I < 0) return std::string();
  const std::string& Entry = Strings(I);
  std::string Value = Entry.substr(Entry.find(':') + 1);
  if (!Value.empty() && Value.front() == ' ') Value.erase(0, 1);
  return Value;
}

void TExStringList::SetValue(std::string_view Name, std::string_view Value) {
  const int I = IndexOfName(Name);
  if (Value.empty()) {
    if (I >= 0) Delete(I);
    return;
  }
  std::string Entry = std::string(Name) + ": " + std::string(Value);
  if (Sorted()) {
    // A changed entry may belong elsewhere in the order: take it out and let
    // the sorted insert place the new text.
    if (I >= 0) Delete(I);
    Add(std::move(Entry));
  } else if (I >= 0) {
    Put(I, std::move(Entry));
  } else {
    Add(std::move(Entry));
  }
}

}  // namespace pelicore
