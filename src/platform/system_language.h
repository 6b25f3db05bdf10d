#pragma once

#include <cstdint>

class QLocale;

namespace platform {

// A Windows-style language identifier: the primary language in the low 10 bits, the
// sublanguage in bits 10-15 (0x0804 is Chinese of the PRC, 0x0419 Russian).
using LangId = std::uint16_t;

constexpr LangId PrimaryLanguage(LangId id) {
    return static_cast<LangId>(id & 0x3FF);
}
constexpr LangId SubLanguage(LangId id) {
    return static_cast<LangId>(id >> 10);
}
constexpr LangId MakeLangId(unsigned primary, unsigned sub) {
    return static_cast<LangId>((sub << 10) | (primary & 0x3FF));
}

// The identifier of a locale's language and territory. Languages without a known
// identifier give 0 (neutral), which the program treats like any unknown language.
LangId LangIdFromLocale(const QLocale& locale);

// The identifier of the user's language: LC_ALL, then LC_MESSAGES, then LANG, as
// QLocale::system() reads them. Called on the UI thread; does not block.
LangId SystemDefaultLangId();

}  // namespace platform
