#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace {

ParsedCommandLine Parse(std::initializer_list<std::string_view> arguments) {
    const std::vector<std::string_view> list(arguments);
    return ParseCommandLine(list);
}

TEST(CommandLine, ReadsEachCommandWithItsOptions) {
    ParsedCommandLine parsed =
        Parse({"--simulate=camera", "snap", "--count=3", "--interval", "0.25"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.command, Command::Snap);
    EXPECT_EQ(parsed.commandLine.simulatedKind, 1);
    EXPECT_EQ(parsed.commandLine.count, 3);
    EXPECT_EQ(parsed.commandLine.intervalMs, 250);

    parsed = Parse({"snap", "--interval=2", "--simulate", "--count", "4"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.simulatedKind, 0);
    EXPECT_EQ(parsed.commandLine.count, 4);
    EXPECT_EQ(parsed.commandLine.intervalMs, 2000);

    parsed = Parse({"snap"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.commandLine.simulatedKind.has_value());
    EXPECT_EQ(parsed.commandLine.count, 1);
    EXPECT_EQ(parsed.commandLine.intervalMs, 0);

    parsed = Parse({"resolution", "1280X1024"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.width, 1280);
    EXPECT_EQ(parsed.commandLine.height, 1024);

    // After "--" a file name may start with a dash.
    parsed = Parse({"to-jpeg", "--", "-in.bmp", "out.jpg"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.inputPath, "-in.bmp");
    EXPECT_EQ(parsed.commandLine.outputPath, "out.jpg");

    EXPECT_EQ(Parse({"list"}).commandLine.command, Command::List);

    parsed = Parse({"record"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.command, Command::Record);
    EXPECT_EQ(parsed.commandLine.recordSeconds, 10);
    EXPECT_EQ(parsed.commandLine.framesPerSecond, 15);
    EXPECT_EQ(parsed.commandLine.compression.codec, RecorderCodec::MicrosoftVideo1);
    EXPECT_EQ(parsed.commandLine.compression.quality, 0);

    parsed = Parse({"record", "--codec=MJPG", "--seconds", "99999", "--quality=1", "--fps", "30"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.recordSeconds, 99999);
    EXPECT_EQ(parsed.commandLine.framesPerSecond, 30);
    EXPECT_EQ(parsed.commandLine.compression.codec, RecorderCodec::MotionJpeg);
    EXPECT_EQ(parsed.commandLine.compression.quality, 1);
}

TEST(CommandLine, RefusesWhatItCannotUseWithAReason) {
    const struct {
        std::vector<std::string_view> arguments;
        const char* reason;
    } cases[] = {
        {{}, "no command"},
        {{"--simulate"}, "no command"},
        {{"shoot"}, "unknown command 'shoot'"},
        {{"--bogus", "list"}, "unknown option '--bogus'"},
        {{"list", "extra"}, "unexpected argument 'extra' for list"},
        {{"list", "--count", "2"}, "unknown option '--count' for list"},
        {{"--simulate=telescope", "list"}, "unknown simulated device 'telescope'"},
        {{"snap", "--count"}, "--count needs a value"},
        {{"snap", "--count", "0"}, "--count takes"},
        {{"snap", "--count", "-2"}, "--count takes"},
        {{"snap", "--count", "2x"}, "--count takes"},
        {{"snap", "--count", "99999999999"}, "--count takes"},
        {{"snap", "--interval", "-1"}, "--interval takes"},
        {{"snap", "--interval", "nan"}, "--interval takes"},
        {{"snap", "--interval", "1e9"}, "--interval takes"},
        {{"snap", "--interval="}, "--interval takes"},
        {{"record", "--seconds", "0"}, "--seconds takes a whole number from 1 to 99999"},
        {{"record", "--seconds", "1.5"}, "--seconds takes"},
        {{"record", "--fps", "31"}, "--fps takes a whole number from 1 to 30, not '31'"},
        {{"record", "--fps"}, "--fps needs a value"},
        {{"record", "--codec", "xvid"}, "--codec takes one of msvc, mjpg, dib, ffv1, hfyu"},
        {{"record", "--codec", "mjpg", "--quality", "101"}, "--quality takes"},
        {{"record", "--codec", "mjpg", "--quality", "0"}, "--quality takes"},
        {{"record", "--quality", "50"}, "--quality is for mjpg and fmp4; msvc has no quality"},
        {{"record", "--quality", "50", "--codec", "ffv1"}, "ffv1 has no quality"},
        {{"record", "10"}, "unexpected argument '10' for record"},
        {{"record", "--count", "2"}, "unknown option '--count' for record"},
        {{"resolution"}, "resolution takes one size"},
        {{"resolution", "640x480", "320x240"}, "resolution takes one size"},
        {{"resolution", "640"}, "'640' is not a size"},
        {{"resolution", "640x"}, "is not a size"},
        {{"resolution", "0x480"}, "is not a size"},
        {{"resolution", "640x65536"}, "is not a size"},
        {{"resolution", "640x480x2"}, "is not a size"},
        {{"to-jpeg", "in.bmp"}, "to-jpeg takes two files"},
        {{"to-jpeg", "in.bmp", ""}, "to-jpeg takes two files"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos)
            << "arguments starting with '" << (c.arguments.empty() ? "" : c.arguments.front())
            << "' gave: " << parsed.error;
    }
}

TEST(CommandLine, HelpAndVersionEndTheReading) {
    // What follows --help is not checked: the help is for the command named before it.
    ParsedCommandLine parsed = Parse({"snap", "--help", "--count", "zero"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.commandLine.help);
    EXPECT_EQ(parsed.commandLine.command, Command::Snap);

    parsed = Parse({"-h"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.commandLine.help);
    EXPECT_EQ(parsed.commandLine.command, Command::None);

    parsed = Parse({"--version", "nonsense"});
    EXPECT_EQ(parsed.error, "");
    EXPECT_TRUE(parsed.commandLine.version);

    // An error before them still counts.
    EXPECT_NE(Parse({"shoot", "--help"}).error, "");
}

}  // namespace
