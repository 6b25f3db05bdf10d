#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

// Outside programs replaced by shell scripts, for tests of code that starts them.
namespace testsupport {

// Sets (or, with nullopt, removes) an environment variable for one test and puts the old
// value back.
class VariableScope {
public:
    VariableScope(const char* name, const std::optional<std::string>& value);
    ~VariableScope();
    VariableScope(const VariableScope&) = delete;
    VariableScope& operator=(const VariableScope&) = delete;

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// A private folder put first on PATH while this lives, holding stand-ins for programs.
class StubPrograms {
public:
    StubPrograms();

    // Adds the program `name`: a /bin/sh script with `body`. Every stub can note its
    // arguments with `note_arguments "$@"`, which writes them, each ended by a NUL byte, to
    // the file $DM_STUB_ARGS (complete once it appears).
    void Add(const std::string& name, const std::string& body);

    const std::string& folder() const { return folder_.path(); }

private:
    TempDir folder_;
    VariableScope path_;
};

// The arguments a stub noted in `path`; nullopt when it wrote none.
std::optional<std::vector<std::string>> ReadNotedArguments(const std::string& path);

}  // namespace testsupport
