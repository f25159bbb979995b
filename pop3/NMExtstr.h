#pragma once
// The header list: a string list of mail header lines ("Name: value") with a
// look-up by name. The name of an entry is its text before the first colon and
// is compared without regard to case, with the comparison the list sorts by.

#include <string>
#include <string_view>

#include "platform/StringList.h"

namespace pelicore {

class TExStringList : public TStringList {
 public:
  // Index of the first entry named Name, or -1. Entries without a colon have
  // no name and are never found.
  int IndexOfName(std::string_view Name) const;
  // The value of the entry named Name: the text after its colon, less one
  // leading blank if there is one; empty when there is no such entry.
  std::string GetValue(std::string_view Name) const;
  // A non-empty Value replaces the named entry with "Name: Value" (Name as
  // passed) or adds that entry; an empty Value deletes the named entry.
  void SetValue(std::string_view Name, std::string_view Value);
};

}  // namespace pelicore
