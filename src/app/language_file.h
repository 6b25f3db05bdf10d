#pragma once

#include <string>
#include <string_view>

#include "platform/system_language.h"

// The language file's name for a language ("Russian1251.ini"): the code page in the name
// is the one the file is written in. Languages without a file of their own give
// "English1252.ini".
std::string LanguageFileName(platform::LangId langId);

// The path of the language file for `langId`: in `programFolder`; when it is missing there
// but present in `dataFolder` (an installed program's data), that one. A file missing from
// both still gives the path in `programFolder`, whose lookups then yield the defaults.
std::string ChooseLanguageFile(std::string_view programFolder, platform::LangId langId,
                               std::string_view dataFolder);
