// The readable text of Subject and From values as servers send them:
// encoded words in the charsets of Japanese mail, folded lines, raw 8-bit
// bytes, and the broken forms that must still show every byte.
#include <QString>
#include <gtest/gtest.h>

#include <string>

#include "app/ReadableHeader.h"

namespace pelicore::testing {
namespace {

struct Case {
  const char* What;
  std::string Raw;
  std::string Readable;
};

const Case Cases[] = {
    {"ISO-2022-JP, two whole words, each padded; the stored leading blank",
     " =?ISO-2022-JP?B?GyRCRnxLXBsoQg==?= =?ISO-2022-JP?B?GyRCOGwkTjdvTD4bKEI=?=", "日本語の件名"},
    {"ISO-2022-JP, the shift continues into the word on the folded line",
     "=?ISO-2022-JP?B?GyRCRnxLXDhs?=\r\n =?ISO-2022-JP?B?JE43b0w+GyhC?=", "日本語の件名"},
    {"ISO-2022-JP, Base64 cut inside a group of four, tab fold",
     "=?iso-2022-jp?b?GyRCRnxLXDhsJE4?=\r\n\t=?ISO-2022-JP?B?3b0w+GyhC?=", "日本語の件名"},
    {"ISO-2022-JP in Q, underscores are blanks",
     "=?ISO-2022-JP?Q?=1B$B$*CN$i$;=1B(B_=1B$BBh=1B(B2=1B$B2s=1B(B?=", "お知らせ 第2回"},
    {"UTF-8 in Q, lower-case q", "=?UTF-8?q?Caf=c3=A9_au_lait?=", "Café au lait"},
    {"Shift_JIS", "=?Shift_JIS?B?ie+LY4LMiMST4A==?=", "会議の案内"},
    {"Shift_JIS label on a vendor character", "=?Shift_JIS?B?h0CJ74tj?=", "①会議"},
    {"EUC-JP", "=?EUC-JP?B?svG1xKTOsMbG4g==?=", "会議の案内"},
    {"UTF-8 with a language and plain text around it", "Re: =?UTF-8*ja?B?44GT44KT44Gr44Gh44Gv?= (2)",
     "Re: こんにちは (2)"},
    {"unknown charset, the bytes guessed", "=?x-nonesuch?B?GyRCJUYlOSVIGyhC?=", "テスト"},
    {"unknown charset, bytes no charset fits", "=?x-nonesuch?Q?=82=A8=FF?=", "=?x-nonesuch?Q?=82=A8=FF?="},
    {"Base64 with a character outside the alphabet", "=?UTF-8?B?44GT*44KT?= ok", "=?UTF-8?B?44GT*44KT?= ok"},
    {"Base64 cut off after a good word: the good word read, blank kept",
     "=?UTF-8?B?44GT?= =?UTF-8?B?4?=", "こ =?UTF-8?B?4?="},
    {"Base64 of an unfinished UTF-8 character", "A =?UTF-8?B?44G?= B", "A =?UTF-8?B?44G?= B"},
    {"Q with a bad escape", "=?UTF-8?Q?a=G1?=", "=?UTF-8?Q?a=G1?="},
    {"raw 8-bit Shift_JIS", "\x8fT\x95\xf1 3\x8c\x8e", "週報 3月"},
    {"raw EUC-JP that also reads as Shift_JIS half-width kana", "\xb2\xf1\xb5\xc4", "会議"},
    {"raw ISO-2022-JP", "\x1b$B=5Js\x1b(B", "週報"},
    {"raw UTF-8", "Caf\xc3\xa9", "Café"},
    {"raw bytes no charset fits, beside good UTF-8: shown byte for byte", "Caf\xe9 \xe6\x97\xa5", "Café 日"},
    {"From, encoded display name, address after it",
     " =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <taro@example.jp>", "山田 太郎 <taro@example.jp>"},
    {"From, encoded word inside quotes", " \"=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=\" <taro@example.jp>",
     "\"山田\" <taro@example.jp>"},
    {"text that only looks like a word", "a=?b ?= =?UTF-8?X?abc?=", "a=?b ?= =?UTF-8?X?abc?="},
    {"empty value", " ", ""},
};

TEST(ReadableHeaderTest, HeaderForms) {
  for (const Case& C : Cases) EXPECT_EQ(ReadableHeader(C.Raw), C.Readable) << C.What;
}

TEST(ReadableHeaderTest, EveryByteIsShownAsValidUtf8) {
  for (int B = 1; B < 256; ++B) {
    const std::string Raw = "x" + std::string(1, static_cast<char>(B)) + "y";
    const std::string Shown = ReadableHeader(Raw);
    EXPECT_EQ(QString::fromUtf8(Shown.data(), static_cast<qsizetype>(Shown.size())).toUtf8().toStdString(), Shown)
        << B;
    EXPECT_GE(Shown.size(), B == '\r' || B == '\n' ? 2u : 3u) << "line breaks alone are removed: " << B;
  }
}

}  // namespace
}  // namespace pelicore::testing
