#include "support/stub_programs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

namespace testsupport {

namespace {

std::optional<std::string> Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void Put(const char* name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

constexpr const char* kNoteArguments =
    "note_arguments() {\n"
    "  for argument in \"$@\"; do printf '%s\\0' \"$argument\"; done > \"$DM_STUB_ARGS.part\"\n"
    "  /bin/mv \"$DM_STUB_ARGS.part\" \"$DM_STUB_ARGS\"\n"
    "}\n";

}  // namespace

VariableScope::VariableScope(const char* name, const std::optional<std::string>& value)
    : name_(name), saved_(Variable(name)) {
    Put(name, value);
}

VariableScope::~VariableScope() {
    Put(name_, saved_);
}

StubPrograms::StubPrograms()
    : path_("PATH", folder_.path() + ":" + Variable("PATH").value_or("")) {}

void StubPrograms::Add(const std::string& name, const std::string& body) {
    const std::string path = folder_ / name;
    WriteFile(path, std::string("#!/bin/sh\n") + kNoteArguments + body + "\n");
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

std::optional<std::vector<std::string>> ReadNotedArguments(const std::string& path) {
    if (!Exists(path)) {
        return std::nullopt;
    }
    const std::string bytes = ReadFile(path);
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find('\0', start);
        arguments.push_back(bytes.substr(start, end - start));
        start = end == std::string::npos ? bytes.size() : end + 1;
    }
    return arguments;
}

}  // namespace testsupport
