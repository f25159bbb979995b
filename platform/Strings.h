#pragma once
// Text helpers with the 1-based character positions that the protocol code is
// written in, and the whole-number conversion. A std::string holds bytes;
// "character" here means byte.

#include <cstdint>
#include <string>
#include <string_view>

namespace pelicore {

// Count characters from position Index (1-based). Index below 1 counts from 1;
// a negative Count, or an Index past the end, gives the empty string.
std::string Copy(std::string_view S, std::int64_t Index, std::int64_t Count);
// 1-based position of the first Sub in S, 0 when absent or when Sub is empty.
int Pos(std::string_view Sub, std::string_view S);

// Remove leading and/or trailing blanks and control characters (bytes <= ' ').
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// ASCII case mapping; other bytes are left alone.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);

// Case-insensitive comparison used by sorted lists and name look-ups:
// ASCII letters compare without regard to case, other bytes by value.
// Negative, zero or positive like strcmp.
int CompareText(std::string_view A, std::string_view B);
bool SameText(std::string_view A, std::string_view B);

// Plain decimal, "-" for negative values, no leading zeros.
std::string IntToStr(std::int64_t Value);

// The whole-number conversion: leading blanks, then decimal digits with an
// optional sign, or hexadecimal digits after "$", "x", "X", "0x" or "0X";
// nothing may follow; the value must fit in 32 signed bits.
// Fails with EConvertError "'<text>' は整数ではありません".
std::int32_t StrToInt(std::string_view S);
bool TryStrToInt(std::string_view S, std::int32_t& Value);
std::int32_t StrToIntDef(std::string_view S, std::int32_t Default);

// The conversion error's text for S.
std::string NotAnIntegerText(std::string_view S);

}  // namespace pelicore
