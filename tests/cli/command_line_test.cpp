#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "media/video_norms.h"

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

    parsed = Parse({"snap", "--interval=2", "--simulate", "--count", "4", "--format", "Tif"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.simulatedKind, 0);
    EXPECT_EQ(parsed.commandLine.count, 4);
    EXPECT_EQ(parsed.commandLine.intervalMs, 2000);
    EXPECT_EQ(parsed.commandLine.stillFormat, PictureFormat::kTiff);

    parsed = Parse({"snap"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_FALSE(parsed.commandLine.simulatedKind.has_value());
    EXPECT_EQ(parsed.commandLine.count, 1);
    EXPECT_EQ(parsed.commandLine.intervalMs, 0);
    EXPECT_EQ(parsed.commandLine.stillFormat, PictureFormat::kBmp);
    EXPECT_EQ(Parse({"snap", "--format=png"}).commandLine.stillFormat, PictureFormat::kPng);

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

    // Rows of the picture property table: brightness 0, contrast 1, ... gamma 4, hue 5.
    parsed = Parse({"properties", "Contrast=40", "brightness=-5", "GAMMA=99999999999999999999"});
    ASSERT_EQ(parsed.error, "");
    EXPECT_EQ(parsed.commandLine.propertySettings,
              (std::vector<PropertySetting>{
                  {1, 40, "40"}, {0, -5, "-5"}, {4, LLONG_MAX, "99999999999999999999"}}));
    EXPECT_EQ(Parse({"norm", "PAL"}).commandLine.norm, kNormPalB);
    EXPECT_EQ(Parse({"norm"}).commandLine.norm, std::nullopt);
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
        {{"snap", "--format", "gif"}, "--format takes bmp, png or tiff, not 'gif'"},
        {{"snap", "--format=jpg"}, "--format takes bmp, png or tiff, not 'jpg'"},
        {{"snap", "--format"}, "--format needs a value"},
        {{"record", "--format", "png"}, "unknown option '--format' for record"},
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
        {{"properties", "brightness"}, "'brightness' is not NAME=VALUE"},
        {{"properties", "focus=3"}, "unknown property 'focus' (the properties are brightness, "},
        {{"properties", "gamma=1.5"}, "gamma takes a whole number, not '1.5'"},
        {{"properties", "gamma="}, "gamma takes a whole number, not ''"},
        {{"properties", "Hue=1", "hue=2"}, "hue is given twice"},
        {{"norm", "secam"}, "norm takes ntsc or pal, not 'secam'"},
        {{"norm", "pal", "ntsc"}, "norm takes one word"},
    };
    for (const auto& c : cases) {
        const ParsedCommandLine parsed = ParseCommandLine(c.arguments);
        EXPECT_NE(parsed.error.find(c.reason), std::string::npos)
            << "arguments starting with '" << (c.arguments.empty() ? "" : c.arguments.front())
            << "' gave: " << parsed.error;
    }
}

// The local time zone for one test, given as a TZ rule so that no time zone data is needed.
class LocalTimeZone {
public:
    explicit LocalTimeZone(const char* rule) {
        if (const char* kept = std::getenv("TZ")) {
            kept_ = kept;
        }
        ::setenv("TZ", rule, 1);
        ::tzset();
    }
    ~LocalTimeZone() {
        if (kept_) {
            ::setenv("TZ", kept_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }
    LocalTimeZone(const LocalTimeZone&) = delete;
    LocalTimeZone& operator=(const LocalTimeZone&) = delete;

private:
    std::optional<std::string> kept_;
};

std::chrono::system_clock::time_point Utc(int year, unsigned month, unsigned day, int hour,
                                          int minute, int second) {
    using namespace std::chrono;
    return sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} +
           seconds{second};
}

TEST(CommandLine, ReadsTheStartAsATimeOnTheLocalClock) {
    // Central European time: summer time (UTC+2) from 02:00 on the last Sunday of March to
    // 03:00 on the last Sunday of October, UTC+1 otherwise. 2030 turns on 31 March and 27
    // October.
    const LocalTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    constexpr const char* kNotAPattern = "--start takes a local time as \"YYYY-MM-DD HH:MM:SS\"";
    constexpr const char* kNotATime = "--start takes a date and time that exist";
    const struct {
        std::string_view value;
        std::optional<std::chrono::system_clock::time_point> start;
        const char* error = "";
    } cases[] = {
        {"2030-06-15 14:05:09", Utc(2030, 6, 15, 12, 5, 9)},
        {"2030-01-01 00:00:00", Utc(2029, 12, 31, 23, 0, 0)},
        {"2028-02-29 23:59:59", Utc(2028, 2, 29, 22, 59, 59)},
        {"2000-02-29 12:00:00", Utc(2000, 2, 29, 11, 0, 0)},
        {"1970-01-01 00:00:00", Utc(1969, 12, 31, 23, 0, 0)},
        {"2099-12-31 23:59:59", Utc(2099, 12, 31, 22, 59, 59)},
        // The hour the clocks go back over comes twice: the first time counts.
        {"2030-10-27 02:30:00", Utc(2030, 10, 27, 0, 30, 0)},
        {"2030-10-27 03:00:00", Utc(2030, 10, 27, 2, 0, 0)},
        // The hour the clocks go forward over never comes.
        {"2030-03-31 02:30:00", std::nullopt, kNotATime},
        {"2030-03-31 03:00:00", Utc(2030, 3, 31, 1, 0, 0)},
        {"2030-13-01 12:00:00", std::nullopt, kNotATime},
        {"2030-00-10 12:00:00", std::nullopt, kNotATime},
        {"2030-01-00 12:00:00", std::nullopt, kNotATime},
        {"2030-02-29 12:00:00", std::nullopt, kNotATime},
        {"2030-04-31 12:00:00", std::nullopt, kNotATime},
        {"2030-01-01 24:00:00", std::nullopt, kNotATime},
        {"2030-01-01 23:60:00", std::nullopt, kNotATime},
        {"2030-01-01 23:59:60", std::nullopt, kNotATime},
        {"1969-12-31 23:59:59", std::nullopt, kNotATime},
        {"2100-01-01 00:00:00", std::nullopt, kNotATime},
        {"2030-01-01 12:00", std::nullopt, kNotAPattern},
        {"2030-1-01 12:00:00", std::nullopt, kNotAPattern},
        {"2030-01-01T12:00:00", std::nullopt, kNotAPattern},
        {"2030-01-01 12:00:00 ", std::nullopt, kNotAPattern},
        {"2030-01-01  2:00:00", std::nullopt, kNotAPattern},
        {"+030-01-01 12:00:00", std::nullopt, kNotAPattern},
        {"2030/01/01 12:00:00", std::nullopt, kNotAPattern},
        {"", std::nullopt, kNotAPattern},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.value));
        const ParsedCommandLine parsed = Parse({"snap", "--start", c.value});
        EXPECT_EQ(parsed.commandLine.start, c.start);
        if (*c.error == '\0') {
            EXPECT_EQ(parsed.error, "");
        } else {
            EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << parsed.error;
            EXPECT_TRUE(parsed.error.ends_with(", not '" + std::string(c.value) + "'"))
                << parsed.error;
        }
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
