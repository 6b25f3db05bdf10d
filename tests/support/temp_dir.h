#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// A private folder made with mkdtemp, removed with everything in it when destroyed.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const;

private:
    std::string path_;
};

// Writes `bytes` to `path`, replacing the file; fails the test when it cannot.
void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
// The names in `folder`, hidden ones too, sorted; none when it cannot be read.
std::vector<std::string> EntryNames(const std::string& folder);

}  // namespace testsupport
