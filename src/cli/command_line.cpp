#include "cli/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <ctime>
#include <vector>

#include "app/simulate_option.h"
#include "capture/picture_controls.h"
#include "media/video_norms.h"
#include "output/compressor_probe.h"
#include "output/time_lapse_worker.h"

namespace {

Command CommandNamed(std::string_view word) {
    for (Command command : {Command::List, Command::Snap, Command::Resolution, Command::Record,
                            Command::ToJpeg, Command::Properties, Command::Norm}) {
        if (word == CommandName(command)) {
            return command;
        }
    }
    return Command::None;
}

// The whole text as a decimal integer.
std::optional<long long> WholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// The whole text as a decimal integer, one beyond long long taken as the nearest end.
std::optional<long long> SaturatedWholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (error == std::errc::result_out_of_range) {
        return text.front() == '-' ? LLONG_MIN : LLONG_MAX;
    }
    return error == std::errc() ? std::optional<long long>(value) : std::nullopt;
}

bool SameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::optional<double> DecimalNumber(std::string_view text) {
    double value = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<RecorderCodec> CodecNamed(std::string_view name) {
    for (const RecorderCodec codec : kRecorderCodecs) {
        const std::string known = CodecOptionName(codec);
        if (name.size() == known.size() &&
            std::equal(name.begin(), name.end(), known.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            })) {
            return codec;
        }
    }
    return std::nullopt;
}

// "WIDTHxHEIGHT", each side 1..kMaxFrameSide.
bool ParseFrameSize(std::string_view text, CommandLine& commandLine) {
    const std::size_t cross = text.find_first_of("xX");
    if (cross == std::string_view::npos) {
        return false;
    }
    const std::optional<long long> width = WholeNumber(text.substr(0, cross));
    const std::optional<long long> height = WholeNumber(text.substr(cross + 1));
    if (!width || !height || *width < 1 || *height < 1 || *width > kMaxFrameSide ||
        *height > kMaxFrameSide) {
        return false;
    }
    commandLine.width = static_cast<int>(*width);
    commandLine.height = static_cast<int>(*height);
    return true;
}

// A date and a time of day as the clock shows them.
struct ClockReading {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// "YYYY-MM-DD HH:MM:SS", digits where the pattern has them; the values are not checked.
std::optional<ClockReading> ReadClockText(std::string_view text) {
    static constexpr std::string_view kPattern = "0000-00-00 00:00:00";
    if (text.size() != kPattern.size()) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[at])) != 0;
        if (kPattern[at] == '0' ? !digit : text[at] != kPattern[at]) {
            return std::nullopt;
        }
    }
    const auto field = [text](std::size_t at, std::size_t digits) {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    return ClockReading{field(0, 4),  field(5, 2),  field(8, 2),
                        field(11, 2), field(14, 2), field(17, 2)};
}

bool SameReading(const std::tm& shown, const ClockReading& reading) {
    return shown.tm_year + 1900 == reading.year && shown.tm_mon + 1 == reading.month &&
           shown.tm_mday == reading.day && shown.tm_hour == reading.hour &&
           shown.tm_min == reading.minute && shown.tm_sec == reading.second;
}

// The moment the local clock shows `reading`; nothing for a date or time that does not exist
// or a year outside kFirstStartYear..kLastStartYear.
std::optional<std::chrono::system_clock::time_point> LocalMoment(const ClockReading& reading) {
    if (reading.year < kFirstStartYear || reading.year > kLastStartYear || reading.month < 1 ||
        reading.month > 12 || reading.day < 1 ||
        reading.day > DaysInMonth(reading.year, reading.month) || reading.hour > 23 ||
        reading.minute > 59 || reading.second > 59) {
        return std::nullopt;
    }
    // mktime moves a time that does not exist to one that does, so its answer counts only
    // when the clock reads it back unchanged. It is asked once as summer time and once as
    // standard time: a time in the hour skipped when the clocks go forward reads back
    // neither way and is refused; one in the hour that comes twice when they go back reads
    // back both ways, and the earlier is taken.
    std::optional<std::time_t> earliest;
    for (const int summerTime : {1, 0}) {
        std::tm asked = {};
        asked.tm_year = reading.year - 1900;
        asked.tm_mon = reading.month - 1;
        asked.tm_mday = reading.day;
        asked.tm_hour = reading.hour;
        asked.tm_min = reading.minute;
        asked.tm_sec = reading.second;
        asked.tm_isdst = summerTime;
        const std::time_t moment = std::mktime(&asked);
        std::tm shown = {};
        if (localtime_r(&moment, &shown) != nullptr && SameReading(shown, reading) &&
            (!earliest || moment < *earliest)) {
            earliest = moment;
        }
    }
    if (!earliest) {
        return std::nullopt;
    }
    return std::chrono::system_clock::from_time_t(*earliest);
}

// Reads the arguments one at a time, keeping the first error.
class Parser {
public:
    explicit Parser(std::span<const std::string_view> arguments) : arguments_(arguments) {}

    ParsedCommandLine Run() {
        while (next_ < arguments_.size() && error_.empty() && !line_.help && !line_.version) {
            Take(arguments_[next_++]);
        }
        if (error_.empty() && !line_.help && !line_.version) {
            CheckOperands();
        }
        return {line_, error_};
    }

private:
    void Take(std::string_view argument) {
        if (optionsEnded_ || argument == "-" || !argument.starts_with('-')) {
            TakeWord(argument);
        } else if (argument == "--") {
            optionsEnded_ = true;
        } else if (argument == "--help" || argument == "-h") {
            line_.help = true;
        } else if (argument == "--version") {
            line_.version = true;
        } else if (const SimulateArgument simulate = ParseSimulateArgument(argument);
                   simulate.isSimulateOption) {
            if (!simulate.kind) {
                Fail("unknown simulated device '" + std::string(argument.substr(11)) +
                     "' (it is microscope or camera)");
            }
            line_.simulatedKind = simulate.kind;
        } else if (!TakeCommandOption(argument)) {
            Fail("unknown option '" + std::string(argument) + "'" + ForCommand());
        }
    }

    void TakeWord(std::string_view word) {
        if (line_.command == Command::None) {
            line_.command = CommandNamed(word);
            if (line_.command == Command::None) {
                Fail("unknown command '" + std::string(word) + "'");
            }
            return;
        }
        operands_.emplace_back(word);
    }

    // An option of the command given before it, as "--name VALUE" or "--name=VALUE". False
    // when the command has no option of that name.
    bool TakeCommandOption(std::string_view argument) {
        using Reader = void (Parser::*)(std::string_view);
        static constexpr struct {
            Command command;
            std::string_view name;
            Reader take;
        } kOptions[] = {
            {Command::Snap, "--count", &Parser::TakeCount},
            {Command::Snap, "--interval", &Parser::TakeInterval},
            {Command::Snap, "--start", &Parser::TakeStart},
            {Command::Snap, "--format", &Parser::TakeFormat},
            {Command::Record, "--seconds", &Parser::TakeSeconds},
            {Command::Record, "--fps", &Parser::TakeFramesPerSecond},
            {Command::Record, "--codec", &Parser::TakeCodec},
            {Command::Record, "--quality", &Parser::TakeQuality},
        };
        for (const auto& option : kOptions) {
            if (option.command != line_.command) {
                continue;
            }
            const std::string_view name = option.name;
            std::optional<std::string_view> value;
            if (argument == name) {
                if (next_ >= arguments_.size()) {
                    Fail(std::string(name) + " needs a value");
                    return true;
                }
                value = arguments_[next_++];
            } else if (argument.starts_with(name) && argument.size() > name.size() &&
                       argument[name.size()] == '=') {
                value = argument.substr(name.size() + 1);
            } else {
                continue;
            }
            (this->*option.take)(*value);
            return true;
        }
        return false;
    }

    void TakeCount(std::string_view value) {
        const std::optional<long long> count = WholeNumber(value);
        if (!count || *count < 1 || *count > INT32_MAX) {
            Fail("--count takes a whole number of stills from 1 up, not '" + std::string(value) +
                 "'");
            return;
        }
        line_.count = static_cast<int>(*count);
    }

    void TakeInterval(std::string_view value) {
        const std::optional<double> seconds = DecimalNumber(value);
        if (!seconds || *seconds < 0.0 || *seconds > static_cast<double>(kMaxIntervalSeconds)) {
            Fail("--interval takes seconds from 0 to " + std::to_string(kMaxIntervalSeconds) +
                 ", not '" + std::string(value) + "'");
            return;
        }
        line_.intervalMs = std::llround(*seconds * 1000.0);
    }

    void TakeStart(std::string_view value) {
        const std::optional<ClockReading> reading = ReadClockText(value);
        if (!reading) {
            Fail("--start takes a local time as \"YYYY-MM-DD HH:MM:SS\", not '" +
                 std::string(value) + "'");
            return;
        }
        line_.start = LocalMoment(*reading);
        if (!line_.start) {
            Fail("--start takes a date and time that exist on the local clock, in the years " +
                 std::to_string(kFirstStartYear) + " to " + std::to_string(kLastStartYear) +
                 ", not '" + std::string(value) + "'");
        }
    }

    void TakeFormat(std::string_view value) {
        const std::optional<PictureFormat> format = PictureFormatNamed(value);
        if (!format || *format == PictureFormat::kJpeg) {
            Fail("--format takes bmp, png or tiff, not '" + std::string(value) + "'");
            return;
        }
        line_.stillFormat = *format;
    }

    // A whole number from 1 to `most` for the option `name`, or nothing (and the error).
    std::optional<int> TakeWholeNumber(std::string_view name, std::string_view value, int most) {
        const std::optional<long long> number = WholeNumber(value);
        if (!number || *number < 1 || *number > most) {
            Fail(std::string(name) + " takes a whole number from 1 to " + std::to_string(most) +
                 ", not '" + std::string(value) + "'");
            return std::nullopt;
        }
        return static_cast<int>(*number);
    }

    void TakeSeconds(std::string_view value) {
        if (const auto seconds = TakeWholeNumber("--seconds", value, kMaxRecordSeconds)) {
            line_.recordSeconds = *seconds;
        }
    }

    void TakeFramesPerSecond(std::string_view value) {
        if (const auto rate = TakeWholeNumber("--fps", value, kMaxRecordFramesPerSecond)) {
            line_.framesPerSecond = *rate;
        }
    }

    void TakeQuality(std::string_view value) {
        if (const auto quality = TakeWholeNumber("--quality", value, kMaxRecordQuality)) {
            line_.compression.quality = *quality;
        }
    }

    void TakeCodec(std::string_view value) {
        if (const std::optional<RecorderCodec> codec = CodecNamed(value)) {
            line_.compression.codec = *codec;
            return;
        }
        std::string names;
        for (const RecorderCodec codec : kRecorderCodecs) {
            names += (names.empty() ? "" : ", ") + CodecOptionName(codec);
        }
        Fail("--codec takes one of " + names + ", not '" + std::string(value) + "'");
    }

    void CheckOperands() {
        switch (line_.command) {
            case Command::None:
                Fail("no command given");
                break;
            case Command::List:
            case Command::Snap:
            case Command::Record:
                if (!operands_.empty()) {
                    Fail("unexpected argument '" + operands_.front() + "'" + ForCommand());
                }
                if (line_.command == Command::Record && line_.compression.quality != 0 &&
                    !RecorderCodecUsesQuality(line_.compression.codec)) {
                    Fail("--quality is for mjpg and fmp4; " +
                         CodecOptionName(line_.compression.codec) + " has no quality to set");
                }
                break;
            case Command::Resolution:
                if (operands_.size() != 1) {
                    Fail("resolution takes one size, WIDTHxHEIGHT");
                } else if (!ParseFrameSize(operands_.front(), line_)) {
                    Fail("'" + operands_.front() + "' is not a size WIDTHxHEIGHT from 1x1 to " +
                         std::to_string(kMaxFrameSide) + "x" + std::to_string(kMaxFrameSide));
                }
                break;
            case Command::ToJpeg:
                if (operands_.size() != 2 || operands_[0].empty() || operands_[1].empty()) {
                    Fail("to-jpeg takes two files, INPUT.bmp and OUTPUT.jpg");
                } else {
                    line_.inputPath = operands_[0];
                    line_.outputPath = operands_[1];
                }
                break;
            case Command::Properties:
                for (const std::string& operand : operands_) {
                    TakePropertySetting(operand);
                }
                break;
            case Command::Norm:
                if (operands_.size() > 1) {
                    Fail("norm takes one word, ntsc or pal");
                } else if (operands_.size() == 1) {
                    if (SameWord(operands_.front(), "ntsc")) {
                        line_.norm = kNormNtscM;
                    } else if (SameWord(operands_.front(), "pal")) {
                        line_.norm = kNormPalB;
                    } else {
                        Fail("norm takes ntsc or pal, not '" + operands_.front() + "'");
                    }
                }
                break;
        }
    }

    // "NAME=VALUE": one of the table's property names in any case, and a whole number.
    void TakePropertySetting(const std::string& operand) {
        const PicturePropertyTable table = MakePicturePropertyTable();
        const std::size_t equals = operand.find('=');
        if (equals == std::string::npos) {
            Fail("'" + operand + "' is not NAME=VALUE");
            return;
        }
        const std::string name = operand.substr(0, equals);
        const int row = FindPicturePropertyRow(table, name);
        if (row < 0) {
            std::string names;
            for (const PicturePropertyRow& known : table) {
                names += (names.empty() ? "" : ", ") + PropertyOptionName(known);
            }
            Fail("unknown property '" + name + "' (the properties are " + names + ")");
            return;
        }
        const std::string property = PropertyOptionName(table[static_cast<std::size_t>(row)]);
        const std::optional<long long> value = SaturatedWholeNumber(operand.substr(equals + 1));
        if (!value) {
            Fail(property + " takes a whole number, not '" + operand.substr(equals + 1) + "'");
            return;
        }
        for (const PropertySetting& earlier : line_.propertySettings) {
            if (earlier.row == row) {
                Fail(property + " is given twice");
                return;
            }
        }
        line_.propertySettings.push_back({row, *value, operand.substr(equals + 1)});
    }

    std::string ForCommand() const {
        return line_.command == Command::None ? std::string()
                                              : std::string(" for ") + CommandName(line_.command);
    }

    void Fail(std::string text) {
        if (error_.empty()) {
            error_ = std::move(text);
        }
    }

    std::span<const std::string_view> arguments_;
    std::size_t next_ = 0;
    bool optionsEnded_ = false;
    CommandLine line_;
    std::vector<std::string> operands_;
    std::string error_;
};

}  // namespace

const char* CommandName(Command command) {
    switch (command) {
        case Command::List:
            return "list";
        case Command::Snap:
            return "snap";
        case Command::Resolution:
            return "resolution";
        case Command::Record:
            return "record";
        case Command::ToJpeg:
            return "to-jpeg";
        case Command::Properties:
            return "properties";
        case Command::Norm:
            return "norm";
        case Command::None:
            break;
    }
    return "";
}

std::string CodecOptionName(RecorderCodec codec) {
    std::string name = RecorderCodecFourcc(codec);
    name.erase(name.find_last_not_of(' ') + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

std::string PropertyOptionName(const PicturePropertyRow& row) {
    std::string name = row.name;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name;
}

ParsedCommandLine ParseCommandLine(std::span<const std::string_view> arguments) {
    return Parser(arguments).Run();
}
