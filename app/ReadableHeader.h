#pragma once
// The readable form of a Subject or From header value, shown beside the value
// as stored (which the cells keep unchanged).
//
// Raw is the value's bytes as the server sent them: it may hold folded lines
// (a line break before a blank), RFC 2047 encoded words in B or Q encoding,
// and raw 8-bit bytes. The result is always valid UTF-8:
// - encoded words are decoded from their charset; adjacent encoded words of
//   one charset are joined before decoding, so a character split across two
//   words survives, and the blanks between encoded words are dropped;
// - raw bytes are read as the charset among UTF-8, ISO-2022-JP, Shift_JIS
//   (CP932) and EUC-JP that decodes them with the fewest unlikely characters;
// - what cannot be decoded is shown as it is: a broken encoded word keeps its
//   "=?...?=" text, and raw bytes that fit no charset are shown one character
//   per byte (ISO-8859-1). Nothing is dropped.
// Blanks at both ends are trimmed; line breaks are removed and tabs become
// blanks.

#include <string>
#include <string_view>

namespace pelicore {

std::string ReadableHeader(std::string_view Raw);

}  // namespace pelicore
