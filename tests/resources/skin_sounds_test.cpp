#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>


namespace {

struct Wav {
    int format = 0;
    int channels = 0;
    int rateHz = 0;
    int bitsPerSample = 0;
    std::vector<std::int16_t> samples;
};

std::uint32_t LittleEndian(const QByteArray& bytes, qsizetype at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i) {
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    }
    return value;
}

// Walks the RIFF chunks: "fmt " and "data" are read, any other chunk is stepped over.
std::optional<Wav> ParseWav(const QByteArray& bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE" ||
        LittleEndian(bytes, 4, 4) + 8 != static_cast<std::uint32_t>(bytes.size())) {
        return std::nullopt;
    }
    Wav wav;
    bool haveFormat = false;
    bool haveData = false;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const QByteArray id = bytes.mid(at, 4);
        const qsizetype size = LittleEndian(bytes, at + 4, 4);
        const qsizetype body = at + 8;
        if (body + size > bytes.size()) {
            return std::nullopt;
        }
        if (id == "fmt " && size >= 16) {
            wav.format = static_cast<int>(LittleEndian(bytes, body, 2));
            wav.channels = static_cast<int>(LittleEndian(bytes, body + 2, 2));
            wav.rateHz = static_cast<int>(LittleEndian(bytes, body + 4, 4));
            wav.bitsPerSample = static_cast<int>(LittleEndian(bytes, body + 14, 2));
            haveFormat = true;
        } else if (id == "data") {
            for (qsizetype i = 0; i + 1 < size; i += 2) {
                wav.samples.push_back(static_cast<std::int16_t>(LittleEndian(bytes, body + i, 2)));
            }
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || !haveData) {
        return std::nullopt;
    }
    return wav;
}

struct ExpectedSound {
    int id;
    double shortestS;
    double longestS;
};

const ExpectedSound kSounds[] = {
    {180, 0.2, 0.3},  // record start and stop
    {181, 0.1, 0.2},  // shutter
    {182, 0.5, 0.7},  // time limit
};

std::optional<Wav> LoadSound(int id) {
    QFile file(QStringLiteral(":/sounds/%1.wav").arg(id));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    return ParseWav(file.readAll());
}

int Peak(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (const std::int16_t s : samples) {
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

TEST(SkinSoundsTest, SoundsAre16BitPcmMonoAt44100Hz) {
    for (const ExpectedSound& expected : kSounds) {
        SCOPED_TRACE(expected.id);
        const std::optional<Wav> wav = LoadSound(expected.id);
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(wav->format, 1);
        EXPECT_EQ(wav->channels, 1);
        EXPECT_EQ(wav->rateHz, 44100);
        EXPECT_EQ(wav->bitsPerSample, 16);
    }
}

TEST(SkinSoundsTest, SoundsLastTheirIntendedTime) {
    for (const ExpectedSound& expected : kSounds) {
        SCOPED_TRACE(expected.id);
        const std::optional<Wav> wav = LoadSound(expected.id);
        ASSERT_TRUE(wav.has_value());
        const double seconds = static_cast<double>(wav->samples.size()) / 44100.0;
        EXPECT_GE(seconds, expected.shortestS);
        EXPECT_LE(seconds, expected.longestS);
    }
}

TEST(SkinSoundsTest, SoundsAreAudibleButStayBelowFullScale) {
    for (const ExpectedSound& expected : kSounds) {
        SCOPED_TRACE(expected.id);
        const std::optional<Wav> wav = LoadSound(expected.id);
        ASSERT_TRUE(wav.has_value());
        EXPECT_GT(Peak(wav->samples), 3000);
        EXPECT_LT(Peak(wav->samples), 32767);
    }
}

TEST(SkinSoundsTest, SoundsStartAndEndInSilenceSoTheyDoNotClick) {
    for (const ExpectedSound& expected : kSounds) {
        SCOPED_TRACE(expected.id);
        const std::optional<Wav> wav = LoadSound(expected.id);
        ASSERT_TRUE(wav.has_value());
        ASSERT_FALSE(wav->samples.empty());
        EXPECT_LT(std::abs(static_cast<int>(wav->samples.front())), 100);
        EXPECT_LT(std::abs(static_cast<int>(wav->samples.back())), 100);
    }
}

TEST(SkinSoundsTest, ParserRejectsATruncatedFile) {
    QFile file(QStringLiteral(":/sounds/180.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(ParseWav(bytes).has_value());
    EXPECT_FALSE(ParseWav(bytes.left(bytes.size() - 10)).has_value());
}

}  // namespace
