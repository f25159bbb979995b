#pragma once
// The MIME rules of the message splitting, as plain text functions: the
// boundary parameter, delimiter lines, and attachment file names made from
// untrusted header text.

#include <cstdint>
#include <string>
#include <string_view>

namespace pelicore::mime {

// The boundary from the text that follows "boundary=" in a header line
// (RFC 2045): a quoted string without its quotes (a backslash quotes the next
// character), or the token up to ";", a blank or the end. Case is kept.
std::string BoundaryParameter(std::string_view Value);

enum class Delimiter { None, Part, Close };

// Whether Line is a delimiter line of Boundary (RFC 2046): "--" and the
// boundary, then nothing, blanks, or "--" (the closing delimiter) and
// blanks. A line that merely contains the boundary is no delimiter; an empty
// boundary has none.
Delimiter DelimiterOf(std::string_view Line, std::string_view Boundary);

// The longest file name a folder takes, in bytes.
inline constexpr std::size_t kMaxNameBytes = 255;
// Name used for a part that brings none.
inline constexpr const char* kDefaultName = "text.tmp";

// A file name from a name the message gave: its last path component (cut at
// the last "/" or "\"), without NUL and control characters; "text.tmp" when
// that is empty, "." or ".."; at most kMaxNameBytes bytes, keeping the
// extension and whole UTF-8 sequences.
std::string SafeFileName(std::string_view Name);

// The Counter-th alternative to a name: "base_1.ext" for "base.ext", "name_1"
// for a name without a dot (a dot in front does not start an extension), cut
// to fit kMaxNameBytes as SafeFileName does.
std::string NumberedName(std::string_view Name, std::int64_t Counter);

}  // namespace pelicore::mime
