#include "codec/NMUUE.h"

#include <cstring>

#include "platform/Exceptions.h"

namespace pelicore {

namespace {

constexpr int kBlockSize = 45;      // input bytes per encoded line
constexpr int kMaxLineRead = 200;   // bytes read to find one line

// A character's Base64 value: 0..63 for the alphabet, 64 for "=", 127 else.
int Base64Value(char C) {
  const auto Code = static_cast<unsigned char>(C);
  if (Code < '+' || Code > 'z') return 127;
  return base64Table[Code - '+'];
}

bool IsAlphabet(char C) { return Base64Value(C) < 64; }

bool InputExhausted(TStream& Stream) { return Stream.Position() >= Stream.Size(); }

}  // namespace

TNMUUProcessor::TNMUUProcessor(TComponent* AOwner) : TComponent(AOwner) {}

void TNMUUProcessor::RequireStreams() const {
  if (InputStream == nullptr || OutputStream == nullptr)
    throw Exception("TNMUUProcessor: InputStream and OutputStream must be set");
}

void TNMUUProcessor::SetEncodeTable() {
  if (Method == uuMime)
    FEncodeTable = MimeTable;
  else if (Method == uuCode)
    FEncodeTable = UUTABLE;
}

void TNMUUProcessor::WriteByte(int Value) {
  if (FPendingCount == sizeof FPending) FlushPending();
  FPending[FPendingCount++] = static_cast<char>(Value & 0xFF);
}

void TNMUUProcessor::FlushPending() {
  if (FPendingCount == 0) return;
  const int Count = FPendingCount;
  FPendingCount = 0;
  try {
    OutputStream->WriteBuffer(FPending, Count);
  } catch (const Exception&) {
    // A stream that refused the line takes what it can byte by byte, so that
    // a failure leaves written exactly the bytes decoded before it.
    for (int I = 0; I < Count; ++I) OutputStream->WriteBuffer(FPending + I, 1);
    throw;
  }
}

void TNMUUProcessor::Encode() {
  RequireStreams();
  TStream& In = *InputStream;
  TStream& Out = *OutputStream;
  In.SetPosition(0);
  RaiseEvent(OnBeginEncode);
  try {
    SetEncodeTable();
    const ExchangeTable& T = FEncodeTable;
    const bool Uu = Method == uuCode;
    unsigned char B[kBlockSize];
    char Line[1 + kBlockSize / 3 * 4 + 2];
    while (In.Position() < In.Size()) {
      const auto N = static_cast<int>(In.Read(B, kBlockSize));
      // A stream whose size promises more than it delivers would otherwise
      // make this loop forever.
      if (N <= 0) break;
      int L = 0;
      if (Uu) Line[L++] = T[N & 63];
      int K = 0;
      for (; N - K >= 3; K += 3) {
        const int X = B[K], Y = B[K + 1], Z = B[K + 2];
        Line[L++] = T[X >> 2];
        Line[L++] = T[((X << 4) | (Y >> 4)) & 63];
        Line[L++] = T[((Y << 2) | (Z >> 6)) & 63];
        Line[L++] = T[Z & 63];
      }
      if (N - K == 1) {
        const int X = B[K];
        Line[L++] = T[X >> 2];
        Line[L++] = T[(X << 4) & 0x30];
        if (!Uu) {
          Line[L++] = '=';
          Line[L++] = '=';
        }
      } else if (N - K == 2) {
        const int X = B[K], Y = B[K + 1];
        Line[L++] = T[X >> 2];
        Line[L++] = T[((X << 4) & 0x30) | (Y >> 4)];
        Line[L++] = T[(Y << 2) & 0x3C];
        if (!Uu) Line[L++] = '=';
      }
      Line[L++] = '\r';
      Line[L++] = '\n';
      Out.WriteBuffer(Line, L);
    }
    if (Uu) {
      const char Closing[3] = {T[0], '\r', '\n'};
      Out.WriteBuffer(Closing, 3);
    }
    // A buffered stream reports a failed write here, while it still counts
    // as a failure of the encoding.
    Out.Flush();
  } catch (...) {
    try {
      Out.SetPosition(0);
    } catch (...) {
      // The first failure is the one the caller hears of.
    }
    RaiseEvent(OnEndEncode);
    throw;
  }
  Out.SetPosition(0);
  RaiseEvent(OnEndEncode);
}

void TNMUUProcessor::Decode() {
  RequireStreams();
  RaiseEvent(OnBeginDecode);
  if (Method == uuMime)
    Base64Decode();
  else if (Method == uuCode)
    StdDecode();
  OutputStream->Flush();
  RaiseEvent(OnEndDecode);
}

bool TNMUUProcessor::ReadLnFromStream(TStream& Stream, std::string& Line) {
  const std::int64_t Start = Stream.Position();
  char Block[kMaxLineRead];
  const auto Got = static_cast<std::size_t>(Stream.Read(Block, kMaxLineRead));
  const void* Feed = std::memchr(Block, '\n', Got);
  if (Feed == nullptr) {
    // No line end within reach: the block is the line, and the stream
    // already stands just after it.
    Line.assign(Block, Got);
    return Got > 0;
  }
  const auto FeedIndex = static_cast<std::size_t>(static_cast<const char*>(Feed) - Block);
  // The line end is CR LF or a lone LF; either way no text is lost.
  std::size_t Length = FeedIndex;
  if (Length > 0 && Block[Length - 1] == '\r') --Length;
  Line.assign(Block, Length);
  Stream.SetPosition(Start + static_cast<std::int64_t>(FeedIndex) + 1);
  return true;
}

void TNMUUProcessor::Base64Decode() {
  // Checked again here: an OnBeginDecode handler may have cleared a stream.
  RequireStreams();
  TStream& In = *InputStream;
  std::string S;
  bool Done = false;
  while (!Done) {
    if (!ReadLnFromStream(In, S)) return;  // a stream whose size promises more than it delivers
    // Positions are 1-based as the line format is described: At(i) is the
    // character i, and L the last position.
    const auto L = static_cast<int>(S.size());
    auto At = [&S](int I) { return S[static_cast<std::size_t>(I - 1)]; };
    if (L == 2 && IsAlphabet(S[0]) && IsAlphabet(S[1]) && InputExhausted(In)) {
      // The last group of the input on a line of its own, without its "=="
      // padding: its two characters still carry one byte.
      WriteByte(Base64Value(S[0]) << 2 | Base64Value(S[1]) >> 4);
    } else if (L > 2 && S.compare(0, 4, "====") != 0) {
      int I = 1;
      while (!IsAlphabet(At(I)) && I < L) {
        const char C = At(I);
        if (C == '\r' || C == '\n' || C == '=') return;  // this line and the rest stay undecoded
        ++I;
      }
      if (I != L) {
        while (I < L) {
          const int X1 = Base64Value(At(I));
          if (X1 == 127) {
            ++I;
            continue;
          }
          // I < L, so the second character is always within the line; the
          // third and fourth may lie past its end and are then never read.
          const int X2 = Base64Value(At(I + 1));
          WriteByte(X1 << 2 | X2 >> 4);
          if (I + 2 > L) break;  // cut short: the line ends after two characters
          const char C3 = At(I + 2);
          const int X3 = Base64Value(C3);
          if (C3 == '=') {
            Done = true;
            I += 3;
            continue;
          }
          if (I + 3 > L) {
            // Cut short: the line ends after three characters, which carry
            // two bytes (the last group of the input without its "=").
            if (X3 < 64 || !InputExhausted(In)) WriteByte(X2 << 4 | X3 >> 2);
            break;
          }
          WriteByte(X2 << 4 | X3 >> 2);
          const char C4 = At(I + 3);
          if (C4 == '=') {
            Done = true;
            I += 3;
            continue;
          }
          WriteByte(X3 << 6 | Base64Value(C4));
          I += 4;
        }
      }
    }
    FlushPending();
    if (InputExhausted(In)) Done = true;
  }
}

void TNMUUProcessor::StdDecode() {
  RequireStreams();
  TStream& In = *InputStream;
  std::string S;
  do {
    if (!ReadLnFromStream(In, S)) return;
    const auto L = static_cast<int>(S.size());
    if (L > 2) {
      int N = UuDEC(S[0]);
      if (N == 0) {
        std::string Dropped;
        ReadLnFromStream(In, Dropped);
      } else {
        // Positions are 1-based; D(i) is the value of character i.
        auto D = [&S](int I) { return UuDEC(S[static_cast<std::size_t>(I - 1)]); };
        for (int I = 2; N > 0; N -= 3, I += 4) {
          // Bytes this group holds, and how many of them the characters
          // present in the line can give (a byte needs one character more
          // than the bytes before it).
          const int Wanted = N >= 3 ? 3 : N;
          const int Present = L - I + 1;
          const int Bytes = Present - 1 < Wanted ? Present - 1 : Wanted;
          if (Bytes >= 1) WriteByte(D(I) << 2 | D(I + 1) >> 4);
          if (Bytes >= 2) WriteByte(D(I + 1) << 4 | D(I + 2) >> 2);
          if (Bytes >= 3) WriteByte(D(I + 2) << 6 | D(I + 3));
          if (Bytes < Wanted) break;  // the line is shorter than its count
        }
      }
    }
    FlushPending();
  } while (!InputExhausted(In));
}

}  // namespace pelicore
