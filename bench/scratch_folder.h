#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

namespace bench {

// A private folder for a benchmark's files, removed with its content at the end.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix) {
        std::string pattern =
            std::filesystem::temp_directory_path() / (std::string(prefix) + ".XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ScratchFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    bool ok() const { return !path_.empty(); }
    std::string operator/(const char* name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace bench
