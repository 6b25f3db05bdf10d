#include "app/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace {

constexpr std::array kKnownCodePages = {1250, 1251, 1252, 1253, 1254, 1255, 1256,
                                        1257, 1258, 932,  936,  949,  950};

bool IsKnownCodePage(int codePage) {
    for (int known : kKnownCodePages) {
        if (known == codePage) {
            return true;
        }
    }
    return false;
}

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

class IconvHandle {
public:
    IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid()) {
            iconv_close(cd_);
        }
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with `lead`; invalid lead bytes count as one.
std::size_t Utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// UTF-8 text is cut by the bytes its characters would take in the named code page.
ConvertedText CutUtf8(std::string_view text, std::size_t maxSourceBytes, int limitCodePage) {
    const std::size_t wideCost = IsDoubleByteCodePage(limitCodePage) ? 2 : 1;
    ConvertedText out;
    std::size_t budget = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = Utf8SequenceLength(lead);
        const std::size_t cost = lead < 0x80 ? 1 : wideCost;
        if (budget + cost > maxSourceBytes) {
            break;
        }
        bool valid = (length > 1 || lead < 0x80) && length <= text.size() - i;
        for (std::size_t k = 1; k < length && valid; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (valid) {
            out.utf8.append(text.substr(i, length));
        } else {
            out.utf8.append(kReplacement);
            length = 1;
        }
        budget += cost;
        i += length;
    }
    out.sourceBytes = budget;
    return out;
}

}  // namespace

int CodePageFromFileName(std::string_view path) {
    std::string_view name = path.substr(path.find_last_of('/') + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    std::size_t start = name.size();
    while (start > 0 && name[start - 1] >= '0' && name[start - 1] <= '9') {
        --start;
    }
    const std::string_view digits = name.substr(start);
    if (digits.empty() || digits.size() > 4) {
        return kDefaultCodePage;
    }
    int codePage = 0;
    for (char c : digits) {
        codePage = codePage * 10 + (c - '0');
    }
    return IsKnownCodePage(codePage) ? codePage : kDefaultCodePage;
}

bool IsDoubleByteCodePage(int codePage) {
    return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

ConvertedText ConvertToUtf8(std::string_view text, int codePage, std::size_t maxSourceBytes,
                            int limitCodePage) {
    text = text.substr(0, text.find('\0'));
    if (codePage == kUtf8) {
        return CutUtf8(text, maxSourceBytes, limitCodePage);
    }
    text = text.substr(0, std::min(text.size(), maxSourceBytes));

    ConvertedText out;
    const std::string from =
        "CP" + std::to_string(IsKnownCodePage(codePage) ? codePage : kDefaultCodePage);
    IconvHandle cd("UTF-8", from.c_str());
    if (!cd.valid()) {
        return out;
    }
    std::string buffer(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    while (inLeft > 0) {
        if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == EILSEQ && outLeft >= 3) {
            // Not a character of this code page: show it and go on after it.
            for (char c : std::string_view(kReplacement)) {
                *outPtr++ = c;
            }
            outLeft -= 3;
            ++in;
            --inLeft;
            continue;
        }
        break;  // EINVAL: a character cut off at the end; it is left out.
    }
    // Code pages with combining marks (1258) hold back the last character until flushed.
    iconv(cd.get(), nullptr, nullptr, &outPtr, &outLeft);
    out.sourceBytes = text.size() - inLeft;
    out.utf8.assign(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    return out;
}
