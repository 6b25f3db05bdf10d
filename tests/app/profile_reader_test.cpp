#include "app/profile_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

std::string Find(std::string_view text, std::string_view key, std::string_view section = "Zentra") {
    return FindProfileValue(text, section, key).value_or("<none>");
}

TEST(ProfileReader, FindsKeysInTheirSectionOnly) {
    const std::string text =
        "[Other]\nOpen=wrong\n"
        "[Zentra]\nOpen=Ouvrir\nSave=Enregistrer\n"
        "[Last]\nSave=wrong\n";
    EXPECT_EQ(Find(text, "Open"), "Ouvrir");
    EXPECT_EQ(Find(text, "Save"), "Enregistrer");
    EXPECT_EQ(Find(text, "Exit"), "<none>");
    EXPECT_EQ(Find(text, "Open", "Missing"), "<none>");
}

TEST(ProfileReader, NamesMatchWithoutRegardToCaseAndBlanks) {
    const std::string text = "  [ zentra ]\r\n  msgtitle  =  Titel  \r\nOK=Fine\r\n";
    EXPECT_EQ(Find(text, "MsgTitle"), "Titel");
    EXPECT_EQ(Find(text, "Ok"), "Fine");
    EXPECT_EQ(Find(text, "MSGTITLE", "ZENTRA"), "Titel");
}

TEST(ProfileReader, KeyWithTrailingBlankIsItsOwnKey) {
    // "Delete=" defines "Delete" only; "Delete =" is the way to write "Delete ".
    EXPECT_EQ(Find("[Zentra]\nDelete=Supprimer\n", "Delete"), "Supprimer");
    EXPECT_EQ(Find("[Zentra]\nDelete=Supprimer\n", "Delete "), "<none>");
    EXPECT_EQ(Find("[Zentra]\nDelete =Effacer\n", "Delete "), "Effacer");
    EXPECT_EQ(Find("[Zentra]\nDelete=A\nDelete =B\n", "Delete "), "B");
    EXPECT_EQ(Find("[Zentra]\nDelete=A\nDelete =B\n", "Delete"), "A");
}

TEST(ProfileReader, ValuesLoseBlanksAndOnePairOfQuotes) {
    const std::string text =
        "[Zentra]\nA=  \"  spaced  \"  \nB='single'\nC=\"unbalanced\nD=\nE=a=b\nF=\"\"\"\"\n";
    EXPECT_EQ(Find(text, "A"), "  spaced  ");
    EXPECT_EQ(Find(text, "B"), "single");
    EXPECT_EQ(Find(text, "C"), "\"unbalanced");
    EXPECT_EQ(Find(text, "D"), "");
    EXPECT_EQ(Find(text, "E"), "a=b");
    EXPECT_EQ(Find(text, "F"), "\"\"");
}

TEST(ProfileReader, FirstDefinitionWinsAcrossRepeatedSections) {
    const std::string text = "[Zentra]\nA=1\nA=2\n[X]\nB=x\n[Zentra]\nA=3\nB=4\n";
    EXPECT_EQ(Find(text, "A"), "1");
    EXPECT_EQ(Find(text, "B"), "4");
}

TEST(ProfileReader, CommentsLinesWithoutEqualsAndLineEnds) {
    const std::string text = "[Zentra]\r;A=comment\rnoequals\rA=mac\r\nB=last-without-newline";
    EXPECT_EQ(Find(text, "A"), "mac");
    EXPECT_EQ(Find(text, "noequals"), "<none>");
    EXPECT_EQ(Find(text, "B"), "last-without-newline");
    EXPECT_EQ(Find(text, ";A"), "<none>");
}

TEST(ProfileReader, SurvivesGarbageAndHugeLines) {
    std::string garbage;
    for (int i = 0; i < 200000; ++i) {
        garbage.push_back(static_cast<char>((i * 7919 + 13) % 256));
    }
    EXPECT_NO_FATAL_FAILURE(FindProfileValue(garbage, "Zentra", "Open"));

    const std::string longValue(3 * 1024 * 1024, 'x');
    const std::string text = "[Zentra]\nLong=" + longValue + "\nShort=ok\n[" + longValue;
    EXPECT_EQ(Find(text, "Long").size(), longValue.size());
    EXPECT_EQ(Find(text, "Short"), "ok");
    EXPECT_EQ(Find(std::string("[Zentra]\nA=x\0y\n", 14), "A"), std::string("x\0y", 3));
}

TEST(ProfileFile, ReadsRegularFilesOnly) {
    TempDir dir;
    WriteFile(dir / "lang.ini", "[Zentra]\nA=1\n");
    EXPECT_EQ(ReadProfileFile(dir / "lang.ini").value_or("<none>"), "[Zentra]\nA=1\n");
    EXPECT_FALSE(ReadProfileFile(dir / "missing.ini"));
    EXPECT_FALSE(ReadProfileFile(dir.path()));  // a folder

    ASSERT_EQ(::mkfifo((dir / "fifo.ini").c_str(), 0600), 0);
    EXPECT_FALSE(ReadProfileFile(dir / "fifo.ini"));  // returns at once, no writer needed

    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), (dir / "dangling.ini").c_str()), 0);
    EXPECT_FALSE(ReadProfileFile(dir / "dangling.ini"));
}

TEST(ProfileFile, UnreadableFileGivesNothing) {
    TempDir dir;
    WriteFile(dir / "locked.ini", "[Zentra]\nA=1\n");
    ASSERT_EQ(::chmod((dir / "locked.ini").c_str(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_FALSE(ReadProfileFile(dir / "locked.ini"));
        return;
    }
    // Root reads every file: look at it as an ordinary user in a child process.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        ::_exit(ReadProfileFile(dir / "locked.ini") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(ProfileFile, LargeFileIsReadUpToTheLimit) {
    TempDir dir;
    std::string big = "[Zentra]\nA=1\n";
    big.resize(kMaxProfileFileBytes + 1000, ';');
    WriteFile(dir / "big.ini", big);
    const auto bytes = ReadProfileFile(dir / "big.ini");
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->size(), kMaxProfileFileBytes);
    EXPECT_EQ(FindProfileValue(*bytes, "Zentra", "A").value_or(""), "1");
}

}  // namespace
