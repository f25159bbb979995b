#include "app/ReadableHeader.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// The encoded words are read here rather than by the mail library in Debian
// (GMime 3.2): it loses every word after a padded B word in a run of one
// charset (the usual form of a long ISO-2022-JP Subject), gives nothing for a
// cut-off word, and turns raw bytes that fit no charset into "?".
namespace pelicore {

namespace {

// ---- Charset conversion (the C library's iconv) --------------------------

// Bytes in Charset as UTF-8, or nothing when the charset is unknown or any
// byte sequence is invalid or unfinished.
std::optional<std::string> ConvertToUtf8(std::string_view Bytes, const char* Charset) {
  iconv_t Cd = ::iconv_open("UTF-8", Charset);
  if (Cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;  // NOLINT(performance-no-int-to-ptr): iconv_open's own failure value
  std::string In(Bytes);
  std::string Out(In.size() * 3 + 16, '\0');
  char* InPtr = In.data();
  std::size_t InLeft = In.size();
  char* OutPtr = Out.data();
  std::size_t OutLeft = Out.size();
  bool Ok = true;
  // After the input, a null input returns the converter to its initial
  // state (an ISO-2022-JP text left shifted is still whole).
  bool Flushing = false;
  for (;;) {
    const std::size_t R = Flushing ? ::iconv(Cd, nullptr, nullptr, &OutPtr, &OutLeft)
                                   : ::iconv(Cd, &InPtr, &InLeft, &OutPtr, &OutLeft);
    if (R == static_cast<std::size_t>(-1)) {
      if (errno != E2BIG) {  // an invalid or unfinished sequence
        Ok = false;
        break;
      }
      const auto Used = static_cast<std::size_t>(OutPtr - Out.data());
      Out.resize(Out.size() * 2);
      OutPtr = Out.data() + Used;
      OutLeft = Out.size() - Used;
      continue;
    }
    if (Flushing) break;
    Flushing = true;
  }
  ::iconv_close(Cd);
  if (!Ok) return std::nullopt;
  Out.resize(static_cast<std::size_t>(OutPtr - Out.data()));
  return Out;
}

std::string Lower(std::string_view S) {
  std::string R(S);
  for (char& C : R)
    if (C >= 'A' && C <= 'Z') C = static_cast<char>(C - 'A' + 'a');
  return R;
}

// Senders that label their text Shift_JIS or EUC-JP often use the vendor
// extensions of those charsets (circled digits, the NEC and IBM kanji).
const char* WiderCharset(const std::string& LowerName) {
  static const std::array<std::string_view, 7> ShiftJis = {"shift_jis", "shift-jis", "sjis",       "x-sjis",
                                                           "ms_kanji",  "csshiftjis", "windows-31j"};
  static const std::array<std::string_view, 4> EucJp = {"euc-jp", "x-euc-jp", "eucjp", "cseucpkdfmtjapanese"};
  if (std::find(ShiftJis.begin(), ShiftJis.end(), LowerName) != ShiftJis.end()) return "CP932";
  if (std::find(EucJp.begin(), EucJp.end(), LowerName) != EucJp.end()) return "EUC-JP-MS";
  return nullptr;
}

// A character that real Japanese text rarely holds but a wrong guess of the
// charset often produces: half-width katakana, private-use and control
// characters (the ESC of an ISO-2022-JP shift read as ASCII is one).
bool Unlikely(char32_t C) {
  return (C >= 0xFF61 && C <= 0xFF9F) || (C >= 0xE000 && C <= 0xF8FF) || C < 0x20 || (C >= 0x7F && C <= 0x9F);
}

std::size_t UnlikelyCount(std::string_view Utf8) {
  std::size_t Count = 0;
  for (std::size_t I = 0; I < Utf8.size();) {
    const auto B = static_cast<unsigned char>(Utf8[I]);
    std::size_t Len = B < 0x80 ? 1 : B < 0xE0 ? 2 : B < 0xF0 ? 3 : 4;
    char32_t C = Len == 1 ? B : Len == 2 ? (B & 0x1Fu) : Len == 3 ? (B & 0x0Fu) : (B & 0x07u);
    for (std::size_t K = 1; K < Len && I + K < Utf8.size(); ++K)
      C = (C << 6) | (static_cast<unsigned char>(Utf8[I + K]) & 0x3Fu);
    if (Unlikely(C)) ++Count;
    I += Len;
  }
  return Count;
}

bool IsPlainAscii(std::string_view Bytes) {
  return std::all_of(Bytes.begin(), Bytes.end(), [](char C) {
    const auto B = static_cast<unsigned char>(C);
    return B < 0x80 && B != 0x1B;  // ESC opens an ISO-2022-JP sequence
  });
}

// The best reading of bytes whose charset is not known: the charset that
// decodes them whole with the fewest unlikely characters, the earlier one on
// a tie. Nothing when none decodes them.
std::optional<std::string> GuessCharset(std::string_view Bytes) {
  if (IsPlainAscii(Bytes)) return std::string(Bytes);
  static const std::array<const char*, 4> Candidates = {"UTF-8", "ISO-2022-JP", "CP932", "EUC-JP"};
  std::optional<std::string> Best;
  std::size_t BestScore = 0;
  for (const char* Charset : Candidates) {
    auto Text = ConvertToUtf8(Bytes, Charset);
    if (!Text) continue;
    std::size_t Score = UnlikelyCount(*Text);
    if (!Best || Score < BestScore) {
      Best = std::move(Text);
      BestScore = Score;
    }
  }
  return Best;
}

bool KnownCharset(const std::string& Charset) {
  iconv_t Cd = ::iconv_open("UTF-8", Charset.c_str());
  if (Cd == reinterpret_cast<iconv_t>(-1)) return false;  // NOLINT(performance-no-int-to-ptr): iconv_open's own failure value
  ::iconv_close(Cd);
  return true;
}

// Bytes labelled with Charset (lower case): the label, then its wider vendor
// form. A label the converter does not know ("unknown-8bit", misspellings)
// gets the guess that raw bytes get.
std::optional<std::string> DecodeLabelled(std::string_view Bytes, const std::string& Charset) {
  if (!KnownCharset(Charset)) return GuessCharset(Bytes);
  if (auto Text = ConvertToUtf8(Bytes, Charset.c_str())) return Text;
  if (const char* Wider = WiderCharset(Charset)) return ConvertToUtf8(Bytes, Wider);
  return std::nullopt;
}

// Every byte as the character of the same number: shows any bytes, loses none.
std::string Latin1ToUtf8(std::string_view Bytes) {
  std::string R;
  for (char C : Bytes) {
    const auto B = static_cast<unsigned char>(C);
    if (B < 0x80) {
      R += C;
    } else {
      R += static_cast<char>(0xC0 | (B >> 6));
      R += static_cast<char>(0x80 | (B & 0x3F));
    }
  }
  return R;
}

// Text outside encoded words: read as a whole by the best guess; when that
// fails, blank-separated piece by piece, so that one bad piece does not spoil
// the others.
std::string DecodePlain(std::string_view Bytes) {
  if (auto Text = GuessCharset(Bytes)) return *Text;
  std::string R;
  std::size_t I = 0;
  while (I < Bytes.size()) {
    std::size_t End = Bytes.find(' ', I);
    if (End == std::string_view::npos) End = Bytes.size();
    std::string_view Piece = Bytes.substr(I, End - I);
    auto Text = GuessCharset(Piece);
    R += Text ? *Text : Latin1ToUtf8(Piece);
    if (End < Bytes.size()) R += ' ';
    I = End + 1;
  }
  return R;
}

// ---- Encoded words (RFC 2047) -------------------------------------------

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

int Base64Value(char C) {
  if (C >= 'A' && C <= 'Z') return C - 'A';
  if (C >= 'a' && C <= 'z') return C - 'a' + 26;
  if (C >= '0' && C <= '9') return C - '0' + 52;
  if (C == '+') return 62;
  if (C == '/') return 63;
  return -1;
}

// B encoding, read as a stream across the words of a run: a word that ends
// inside a group of four characters continues in the next one, as some
// mailers split them; padding ends a group.
struct Base64State {
  std::uint32_t Bits = 0;
  int Count = 0;  // bits held that make no whole byte yet
};

// False when Text holds a character outside the alphabet or padding before
// its end.
bool DecodeB(std::string_view Text, Base64State& State, std::string& Out) {
  std::size_t Len = Text.size();
  while (Len > 0 && Text[Len - 1] == '=' && Text.size() - Len < 2) --Len;
  for (std::size_t I = 0; I < Len; ++I) {
    const int V = Base64Value(Text[I]);
    if (V < 0) return false;
    State.Bits = (State.Bits << 6) | static_cast<std::uint32_t>(V);
    State.Count += 6;
    if (State.Count >= 8) {
      State.Count -= 8;
      Out += static_cast<char>((State.Bits >> State.Count) & 0xFF);
    }
  }
  if (Len < Text.size()) State.Count = 0;
  return true;
}

// Q encoding: "_" is a blank, "=" and two hex digits one byte.
std::optional<std::string> DecodeQ(std::string_view Text) {
  std::string R;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '_') {
      R += ' ';
    } else if (Text[I] == '=') {
      if (I + 2 >= Text.size()) return std::nullopt;
      int Hi = HexValue(Text[I + 1]), Lo = HexValue(Text[I + 2]);
      if (Hi < 0 || Lo < 0) return std::nullopt;
      R += static_cast<char>(Hi * 16 + Lo);
      I += 2;
    } else {
      R += Text[I];
    }
  }
  return R;
}

struct Token {
  enum class Kind { Text, Blank, Word } Type;
  std::string_view Source;
  std::string Charset;               // words: lower case, language removed
  char Encoding = 0;                 // words: 'B' or 'Q'
  std::string_view Text;             // words: the encoded text
  std::optional<std::string> Shown;  // words: UTF-8 text, nothing to show the word as it is
};

bool IsWordChar(char C) { return C > ' ' && C < 0x7F && C != '?'; }

// An encoded word "=?charset?B?text?=" (or ?Q?) starting at Pos.
struct WordForm {
  std::size_t Length;
  std::string_view Charset;
  char Encoding;
  std::string_view Text;
};

std::optional<WordForm> ParseWord(std::string_view S, std::size_t Pos) {
  if (S.compare(Pos, 2, "=?") != 0) return std::nullopt;
  std::size_t I = Pos + 2;
  const std::size_t CharsetStart = I;
  while (I < S.size() && IsWordChar(S[I])) ++I;
  if (I == CharsetStart || I + 2 >= S.size() || S[I] != '?' || S[I + 2] != '?') return std::nullopt;
  const char Encoding = static_cast<char>(S[I + 1] & ~0x20);  // upper case
  if (Encoding != 'B' && Encoding != 'Q') return std::nullopt;
  const std::string_view Charset = S.substr(CharsetStart, I - CharsetStart);
  I += 3;
  const std::size_t TextStart = I;
  while (I < S.size() && IsWordChar(S[I])) ++I;
  if (I + 1 >= S.size() || S[I] != '?' || S[I + 1] != '=') return std::nullopt;
  return WordForm{I + 2 - Pos, Charset, Encoding, S.substr(TextStart, I - TextStart)};
}

// Words are taken wherever they stand (next to other text or inside quotes
// too), as mailers write them.
std::vector<Token> Tokenize(std::string_view S) {
  std::vector<Token> Tokens;
  std::size_t I = 0;
  while (I < S.size()) {
    if (auto Form = ParseWord(S, I)) {
      Tokens.push_back({Token::Kind::Word, S.substr(I, Form->Length),
                        Lower(Form->Charset.substr(0, Form->Charset.find('*'))),  // RFC 2231 language
                        Form->Encoding, Form->Text, {}});
      I += Form->Length;
      continue;
    }
    const bool Blank = S[I] == ' ';
    std::size_t End = I + 1;
    if (Blank)
      while (End < S.size() && S[End] == ' ') ++End;
    else
      while (End < S.size() && S[End] != ' ' && !ParseWord(S, End)) ++End;
    Tokens.push_back({Blank ? Token::Kind::Blank : Token::Kind::Text, S.substr(I, End - I), {}, 0, {}, {}});
    I = End;
  }
  return Tokens;
}

// The payload of the words Run of Tokens, one after the other; nothing when
// a word is broken or the last one is cut off inside a Base64 character.
std::optional<std::string> RunBytes(const std::vector<Token>& Tokens, const std::vector<std::size_t>& Run) {
  std::string Out;
  Base64State State;
  for (std::size_t K : Run) {
    if (Tokens[K].Encoding == 'B') {
      if (!DecodeB(Tokens[K].Text, State, Out)) return std::nullopt;
    } else {
      State = {};
      auto Bytes = DecodeQ(Tokens[K].Text);
      if (!Bytes) return std::nullopt;
      Out += *Bytes;
    }
  }
  if (State.Count >= 6) return std::nullopt;
  return Out;
}

// Decodes runs of encoded words that share a charset and stand apart only by
// blanks as one, so that multi-byte characters and ISO-2022-JP shifts split
// across words survive; a run that fails is decoded word by word, and a word
// that fails stays as it is.
void DecodeWords(std::vector<Token>& Tokens) {
  for (std::size_t I = 0; I < Tokens.size();) {
    if (Tokens[I].Type != Token::Kind::Word) {
      ++I;
      continue;
    }
    std::vector<std::size_t> Run{I};
    std::size_t Next = I + 1;
    for (;;) {
      std::size_t J = Next;
      if (J < Tokens.size() && Tokens[J].Type == Token::Kind::Blank) ++J;
      if (J >= Tokens.size() || Tokens[J].Type != Token::Kind::Word || Tokens[J].Charset != Tokens[I].Charset) break;
      Run.push_back(J);
      Next = J + 1;
    }
    auto Joined = RunBytes(Tokens, Run);
    if (auto Text = Joined ? DecodeLabelled(*Joined, Tokens[I].Charset) : std::nullopt) {
      Tokens[I].Shown = std::move(Text);
      for (std::size_t K = 1; K < Run.size(); ++K) Tokens[Run[K]].Shown = std::string();
    } else {
      for (std::size_t K : Run)
        if (auto Bytes = RunBytes(Tokens, {K})) Tokens[K].Shown = DecodeLabelled(*Bytes, Tokens[K].Charset);
    }
    I = Next;
  }
}

bool IsDecodedWord(const std::vector<Token>& Tokens, std::size_t I) {
  return I < Tokens.size() && Tokens[I].Type == Token::Kind::Word && Tokens[I].Shown;
}

}  // namespace

std::string ReadableHeader(std::string_view Raw) {
  // Unfold: a line break is removed, the blank after it stays.
  std::string Unfolded;
  Unfolded.reserve(Raw.size());
  for (char C : Raw) {
    if (C == '\r' || C == '\n') continue;
    Unfolded += C == '\t' ? ' ' : C;
  }
  std::vector<Token> Tokens = Tokenize(Unfolded);
  DecodeWords(Tokens);

  std::string Result;
  std::string Plain;  // text and blanks gathered for one reading
  auto FlushPlain = [&] {
    if (!Plain.empty()) Result += DecodePlain(Plain);
    Plain.clear();
  };
  for (std::size_t I = 0; I < Tokens.size(); ++I) {
    const Token& T = Tokens[I];
    if (T.Type == Token::Kind::Word) {
      FlushPlain();
      Result += T.Shown ? *T.Shown : std::string(T.Source);
    } else if (T.Type == Token::Kind::Blank && I > 0 && IsDecodedWord(Tokens, I - 1) &&
               IsDecodedWord(Tokens, I + 1)) {
      // Blanks between two encoded words are not part of the text.
    } else {
      Plain += T.Source;
    }
  }
  FlushPlain();

  const std::size_t First = Result.find_first_not_of(' ');
  if (First == std::string::npos) return std::string();
  return Result.substr(First, Result.find_last_not_of(' ') - First + 1);
}

}  // namespace pelicore
