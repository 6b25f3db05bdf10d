// Feeds arbitrary bytes to the language-file reader and the code-page conversion.
// The first byte chooses the code page and the buffer size, the bytes up to the first
// newline are the key, the rest is the file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/code_page.h"
#include "app/profile_reader.h"

namespace {
constexpr int kCodePages[] = {1250, 1251, 1252, 1253, 1254, 1255, 1256,
                              1257, 1258, 932,  936,  949,  950,  kUtf8};
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int codePage = kCodePages[data[0] % std::size(kCodePages)];
    const std::size_t limit = data[0] / 2;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t newline = rest.find('\n');
    const std::string_view key = rest.substr(0, newline);
    const std::string_view text = newline == std::string_view::npos ? "" : rest.substr(newline + 1);

    if (const auto value = FindProfileValue(text, "Zentra", key)) {
        const ConvertedText converted = ConvertToUtf8(*value, codePage, limit, 936);
        if (converted.sourceBytes > limit) {
            __builtin_trap();
        }
    }
    ConvertToUtf8(text, codePage, limit, 1251);
    return 0;
}
