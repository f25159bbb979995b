#pragma once
// How the POP3 component judges reply lines and keeps its busy flag; shared
// by the files of the component, not part of its interface.

#include <string>

#include "platform/Strings.h"
#include "socket/Psock.h"

namespace pelicore::pop3 {

inline constexpr const char* kAuthenticationFailed = "Authentication failed";

inline std::string FirstWord(const std::string& Reply) { return NthWord(Reply, ' ', 1); }

// Positive replies are found by position, so "+OK" alone on its line (whose
// first word keeps the line end) still counts.
inline bool IsPositive(const std::string& Reply) { return Pos("+OK", FirstWord(Reply)) > 0; }

// A line without its line end: CR LF, or a bare LF from a careless server.
inline std::string WithoutLineEnd(const std::string& Line) {
  if (Line.ends_with("\r\n")) return Line.substr(0, Line.size() - 2);
  if (Line.ends_with('\n')) return Line.substr(0, Line.size() - 1);
  return Line;
}

// A DELE refusal. The line end is left out of the comparison: a bare "-ERR"
// line is a refusal like any other, and must not pass for a deletion.
inline bool IsDeleRefusal(const std::string& Reply) { return WithoutLineEnd(FirstWord(Reply)) == "-ERR"; }

// Clears the busy flag on every way out of a mailbox operation.
class BusyScope {
 public:
  explicit BusyScope(bool& Busy) : FBusy(Busy) { FBusy = true; }
  ~BusyScope() { FBusy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& FBusy;
};

}  // namespace pelicore::pop3
