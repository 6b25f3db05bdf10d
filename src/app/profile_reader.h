#pragma once

#include <optional>
#include <string>
#include <string_view>

// A reader for INI ("profile") files that behaves like the Windows profile reader where
// the program relies on it:
//  - section and key names match without regard to ASCII case; blanks around a section
//    name are ignored;
//  - a key written in the file matches with the blanks before its '=' removed, except
//    that a looked-up key which itself ends in a blank ("Delete ") matches only a line
//    written with exactly that key ("Delete =..."), never "Delete=...";
//  - the first matching line wins, also across repeated sections of the same name;
//  - a value loses its surrounding blanks and one pair of matching quotes around it;
//  - lines starting with ';' are comments; lines may end in CR LF, LF or CR.
// Values come back as the file's raw bytes, in whatever code page the file is written.

// Looks `key` up in `section` of INI text held in memory.
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);

// The largest number of bytes read from a profile file; the rest of a larger file is
// ignored.
inline constexpr std::size_t kMaxProfileFileBytes = 4 * 1024 * 1024;

// Reads the file at `path` (a regular file only; never blocks on a FIFO or device) and
// returns its first kMaxProfileFileBytes bytes, or nothing when it cannot be read.
std::optional<std::string> ReadProfileFile(const std::string& path);
