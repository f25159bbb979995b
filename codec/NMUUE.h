#pragma once
// Base64 and UU line codecs between two byte streams.
//
// Encoding turns the whole input stream into lines of at most 45 encoded
// bytes, each ended by CR LF; the UU form has no header line and no trailer
// line, only its data lines and a closing line of one grave accent. Decoding
// reads such lines from the input's current position and writes the bytes of
// each line when the line is done. The processor validates nothing: characters outside
// the alphabet and odd lines only change what is written. Memory stays bounded
// by one line whatever the size of the data.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Component.h"
#include "platform/Streams.h"

namespace pelicore {

enum UUMethods : std::uint8_t {
  uuMime = 0,  // Base64
  uuCode = 1,  // UU encoding
};

// Maps a 6-bit value to the character that encodes it.
using ExchangeTable = std::array<char, 64>;

namespace detail {

constexpr ExchangeTable MakeUuTable() {
  ExchangeTable T{};
  T[0] = '`';  // zero is a grave accent, never a blank
  for (int N = 1; N < 64; ++N) T[static_cast<std::size_t>(N)] = static_cast<char>(32 + N);
  return T;
}

constexpr std::array<std::uint8_t, 80> MakeBase64Values(const ExchangeTable& Alphabet) {
  std::array<std::uint8_t, 80> T{};
  for (auto& Value : T) Value = 127;
  for (std::size_t N = 0; N < 64; ++N) T[static_cast<std::size_t>(Alphabet[N] - '+')] = static_cast<std::uint8_t>(N);
  T['=' - '+'] = 64;
  return T;
}

}  // namespace detail

inline constexpr ExchangeTable UUTABLE = detail::MakeUuTable();

inline constexpr ExchangeTable MimeTable = {
    'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
    'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', 'a', 'b', 'c', 'd', 'e', 'f',
    'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v',
    'w', 'x', 'y', 'z', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '+', '/'};

// Indexed by character code - '+' for "+" to "z": the value in MimeTable of an
// alphabet character, 64 for "=", 127 for the other characters of the range.
inline constexpr std::array<std::uint8_t, 80> base64Table = detail::MakeBase64Values(MimeTable);

class TNMUUProcessor : public TComponent {
 public:
  explicit TNMUUProcessor(TComponent* AOwner);

  TNotifyEvent OnBeginEncode;
  TNotifyEvent OnEndEncode;
  TNotifyEvent OnBeginDecode;
  TNotifyEvent OnEndDecode;

  // Not owned: the caller keeps both alive while an operation runs.
  TStream* InputStream = nullptr;
  TStream* OutputStream = nullptr;
  UUMethods Method = uuMime;

  // Encodes all of InputStream (from position 0) at OutputStream's position,
  // then leaves OutputStream at 0 and InputStream at its end. When a stream
  // fails, OutputStream is still set to 0 and OnEndEncode still raised before
  // the exception goes on. Raises pelicore::Exception when a stream is unset.
  void Encode();
  // Decodes InputStream from its position into OutputStream at its position;
  // neither is reset. A failing stream's exception goes on without
  // OnEndDecode. Raises pelicore::Exception when a stream is unset.
  void Decode();

  // The steps of Encode and Decode. The two decoders raise
  // pelicore::Exception when a stream is unset.
  void SetEncodeTable();
  static int UuDEC(char C) { return (static_cast<unsigned char>(C) - 32) & 63; }
  void Base64Decode();
  void StdDecode();
  // The next line of Stream, without its line end (CR LF or LF), leaving
  // the position just past that line end. Reads at most 200 bytes: when no
  // line feed lies among them the whole block is the line and the position
  // stays after it. False when the stream gave no byte at all, which the
  // decoders take as the end of the input even if Size() promises more.
  bool ReadLnFromStream(TStream& Stream, std::string& Line);

 protected:
  ~TNMUUProcessor() override = default;

 private:
  void RequireStreams() const;
  void RaiseEvent(const TNotifyEvent& Event) {
    if (Event) Event(this);
  }
  // Decoded bytes are collected per line and written with one call when the
  // line is done: the output is the same, without a stream call per byte.
  void WriteByte(int Value);
  void FlushPending();

  ExchangeTable FEncodeTable{};
  char FPending[256] = {};
  int FPendingCount = 0;
};

}  // namespace pelicore
