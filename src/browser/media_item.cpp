#include "browser/media_item.h"

std::string_view FileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view FolderOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

bool ShowsUnsavedMark(const MediaItem& item) {
    if ((item.flags & itemflag::kUnsaved) == 0) {
        return false;
    }
    const std::string_view name = FileNameOf(item.path);
    return name.empty() || name.front() != 'A';
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool NaturalNameLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    int zerosOrder = 0;  // equal numbers: fewer leading zeros first, when nothing else differs
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            // Compare the two numbers by value: skip leading zeros, then the longer run is the
            // larger number, then digit by digit.
            std::size_t iStart = i;
            std::size_t jStart = j;
            while (iStart < a.size() && a[iStart] == '0') {
                ++iStart;
            }
            while (jStart < b.size() && b[jStart] == '0') {
                ++jStart;
            }
            std::size_t iEnd = iStart;
            std::size_t jEnd = jStart;
            while (iEnd < a.size() && IsDigit(a[iEnd])) {
                ++iEnd;
            }
            while (jEnd < b.size() && IsDigit(b[jEnd])) {
                ++jEnd;
            }
            const std::size_t iDigits = iEnd - iStart;
            const std::size_t jDigits = jEnd - jStart;
            if (iDigits != jDigits) {
                return iDigits < jDigits;
            }
            const int order = a.substr(iStart, iDigits).compare(b.substr(jStart, jDigits));
            if (order != 0) {
                return order < 0;
            }
            if (zerosOrder == 0 && iStart - i != jStart - j) {
                zerosOrder = iStart - i < jStart - j ? -1 : 1;
            }
            i = iEnd;
            j = jEnd;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        }
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) {
        return a.size() - i < b.size() - j;
    }
    return zerosOrder < 0;
}
