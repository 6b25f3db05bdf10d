#include "platform/sound_player.h"

#include <gtest/gtest.h>

#include <QTest>
#include <cmath>
#include <cstdint>

namespace {

void PutLe(QByteArray& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes.append(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }
}

// A mono 16-bit PCM WAV file of a soft tone.
QByteArray ToneWav(int milliseconds) {
    const int rate = 44100;
    const int samples = rate * milliseconds / 1000;
    QByteArray wav("RIFF");
    PutLe(wav, static_cast<std::uint32_t>(36 + samples * 2), 4);
    wav.append("WAVEfmt ");
    PutLe(wav, 16, 4);
    PutLe(wav, 1, 2);  // PCM
    PutLe(wav, 1, 2);  // mono
    PutLe(wav, rate, 4);
    PutLe(wav, rate * 2, 4);
    PutLe(wav, 2, 2);
    PutLe(wav, 16, 2);
    wav.append("data");
    PutLe(wav, static_cast<std::uint32_t>(samples * 2), 4);
    for (int i = 0; i < samples; ++i) {
        const double value = 8000.0 * std::sin(2.0 * M_PI * 880.0 * i / rate);
        PutLe(wav, static_cast<std::uint32_t>(static_cast<std::int16_t>(value)) & 0xFFFFu, 2);
    }
    return wav;
}

TEST(SoundPlayerTest, ASoundPlaysToItsEndWithoutHoldingUpTheCaller) {
    SoundPlayer player(nullptr, QStringLiteral("fakesink"));
    ASSERT_TRUE(player.PlayWav(ToneWav(200)));
    EXPECT_TRUE(player.playing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.playing(); }, 10000));
    EXPECT_EQ(player.soundsFinished(), 1);
}

TEST(SoundPlayerTest, ANewSoundEndsTheOneStillPlaying) {
    SoundPlayer player(nullptr, QStringLiteral("fakesink"));
    ASSERT_TRUE(player.PlayWav(ToneWav(2000)));
    ASSERT_TRUE(player.PlayWav(ToneWav(100)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.playing(); }, 10000));
    EXPECT_EQ(player.soundsFinished(), 1);
}

TEST(SoundPlayerTest, DamagedOrMissingSoundsAreSilent) {
    SoundPlayer player(nullptr, QStringLiteral("fakesink"));
    EXPECT_FALSE(player.Play(999));
    EXPECT_FALSE(player.PlayWav(QByteArray()));
    QByteArray damaged = ToneWav(100);
    damaged.replace(0, 4, "JUNK");
    player.PlayWav(damaged);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.playing(); }, 10000));
    EXPECT_EQ(player.soundsFinished(), 0);
}

TEST(SoundPlayerTest, TheDesktopOutputPlaysOrStaysSilentWithoutAudio) {
    // On a machine without an audio device the sound ends in silence, with no error shown.
    SoundPlayer player;
    player.PlayWav(ToneWav(100));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !player.playing(); }, 10000));
}

}  // namespace
