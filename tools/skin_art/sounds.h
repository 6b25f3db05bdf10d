#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// The skin's three sounds, synthesised: 16-bit PCM, mono, 44.1 kHz.
namespace skinart {

inline constexpr int kSampleRateHz = 44100;

std::vector<std::int16_t> SynthesiseRecordTone();  // 180: two rising notes, 0.25 s
std::vector<std::int16_t> SynthesiseShutter();     // 181: a soft double click, 0.15 s
std::vector<std::int16_t> SynthesiseChime();       // 182: one gentle bell strike, 0.6 s

// Writes `samples` as a canonical 44-byte-header WAV file; false (and a message) on failure.
bool WriteWav(const std::vector<std::int16_t>& samples, const QString& path);

}  // namespace skinart
