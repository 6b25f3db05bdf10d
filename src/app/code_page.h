#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Windows code pages of the language files: 1250-1258 (one byte a character) and the
// double-byte ones 932, 936, 949 and 950. kUtf8 stands for text that is UTF-8 already.
inline constexpr int kDefaultCodePage = 1252;
inline constexpr int kUtf8 = 65001;

// The code page named by the digits at the end of a language file's name
// ("/x/Chinese936.ini" gives 936). A name without a known code page gives 1252.
int CodePageFromFileName(std::string_view path);

bool IsDoubleByteCodePage(int codePage);

struct ConvertedText {
    std::string utf8;
    std::size_t sourceBytes = 0;  // bytes of the source text that were converted
};

// Converts text written in `codePage` to UTF-8, keeping at most `maxSourceBytes` bytes of
// the source and never splitting a character: a double-byte character that does not fit
// whole is left out. The text ends at its first NUL byte. Bytes that are not valid in the
// code page become U+FFFD. For kUtf8 the limit counts each character as the bytes it
// takes in `limitCodePage` (one, or two outside ASCII for double-byte code pages).
ConvertedText ConvertToUtf8(std::string_view text, int codePage, std::size_t maxSourceBytes,
                            int limitCodePage = kDefaultCodePage);
