#include "sounds.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace skinart {
namespace {

using Signal = std::vector<double>;

constexpr double kTwoPi = 2.0 * std::numbers::pi;

std::size_t SamplesFor(double seconds) {
    return static_cast<std::size_t>(std::lround(seconds * kSampleRateHz));
}

double TimeOf(std::size_t index) {
    return static_cast<double>(index) / kSampleRateHz;
}

// A struck note: a short linear attack, then an exponential decay.
double StrikeEnvelope(double t, double attackS, double decayS) {
    if (t < 0) {
        return 0;
    }
    return t < attackS ? t / attackS : std::exp(-(t - attackS) / decayS);
}

// Linear fades at both ends, so playback starts and stops without a click.
void FadeEnds(Signal& signal, double fadeInS, double fadeOutS) {
    const std::size_t in = SamplesFor(fadeInS);
    const std::size_t out = SamplesFor(fadeOutS);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        double gain = 1.0;
        if (i < in) {
            gain = static_cast<double>(i) / static_cast<double>(in);
        }
        const std::size_t fromEnd = signal.size() - 1 - i;
        if (fromEnd < out) {
            gain = std::min(gain, static_cast<double>(fromEnd) / static_cast<double>(out));
        }
        signal[i] *= gain;
    }
}

std::vector<std::int16_t> Quantise(const Signal& signal, double peak) {
    double loudest = 0;
    for (const double s : signal) {
        loudest = std::max(loudest, std::abs(s));
    }
    const double gain = loudest > 0 ? peak * 32767.0 / loudest : 0.0;
    std::vector<std::int16_t> samples(signal.size());
    std::transform(signal.begin(), signal.end(), samples.begin(),
                   [gain](double s) { return static_cast<std::int16_t>(std::lround(s * gain)); });
    return samples;
}

void AddNote(Signal& signal, double startS, double frequencyHz, double decayS, double level) {
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double t = TimeOf(i) - startS;
        const double envelope = StrikeEnvelope(t, 0.004, decayS);
        if (envelope == 0) {
            continue;
        }
        const double phase = kTwoPi * frequencyHz * t;
        signal[i] += level * envelope * (std::sin(phase) + 0.12 * std::sin(2 * phase));
    }
}

// A fixed-seed xorshift generator, so the noise is the same on every run.
class Noise {
public:
    double Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483648.0 - 1.0;
    }

private:
    std::uint32_t state_ = 0x2545F491u;
};

// A band-pass biquad (constant peak gain), from the usual audio cookbook formulas.
class BandPass {
public:
    BandPass(double centreHz, double q) {
        const double w0 = kTwoPi * centreHz / kSampleRateHz;
        const double alpha = std::sin(w0) / (2 * q);
        const double a0 = 1 + alpha;
        b0_ = alpha / a0;
        b2_ = -alpha / a0;
        a1_ = -2 * std::cos(w0) / a0;
        a2_ = (1 - alpha) / a0;
    }
    double Filter(double x) {
        const double y = b0_ * x + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    double b0_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

void AddClick(Signal& signal, double startS, double decayS, double level, Noise& noise) {
    BandPass bright(3200, 0.9);
    BandPass body(900, 1.2);
    for (std::size_t i = 0; i < signal.size(); ++i) {
        const double t = TimeOf(i) - startS;
        const double envelope = StrikeEnvelope(t, 0.0008, decayS);
        const double n = noise.Next() * envelope;
        signal[i] += level * (bright.Filter(n) + 0.6 * body.Filter(n));
    }
}

void PutLittleEndian(QByteArray& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }
}

}  // namespace

std::vector<std::int16_t> SynthesiseRecordTone() {
    Signal signal(SamplesFor(0.25), 0.0);
    AddNote(signal, 0.0, 880.0, 0.05, 1.0);     // A5
    AddNote(signal, 0.105, 1318.5, 0.06, 0.9);  // E6
    FadeEnds(signal, 0.003, 0.02);
    return Quantise(signal, 0.32);
}

std::vector<std::int16_t> SynthesiseShutter() {
    Signal signal(SamplesFor(0.15), 0.0);
    Noise noise;
    AddClick(signal, 0.002, 0.010, 1.0, noise);
    AddClick(signal, 0.062, 0.014, 0.7, noise);
    FadeEnds(signal, 0.001, 0.02);
    return Quantise(signal, 0.4);
}

std::vector<std::int16_t> SynthesiseChime() {
    Signal signal(SamplesFor(0.6), 0.0);
    // A bell's partials, the higher ones fading first.
    constexpr double kFundamentalHz = 784.0;  // G5
    AddNote(signal, 0.0, kFundamentalHz, 0.22, 1.0);
    AddNote(signal, 0.0, kFundamentalHz * 2.0, 0.14, 0.32);
    AddNote(signal, 0.0, kFundamentalHz * 2.76, 0.09, 0.2);
    AddNote(signal, 0.0, kFundamentalHz * 5.4, 0.04, 0.06);
    FadeEnds(signal, 0.003, 0.06);
    return Quantise(signal, 0.32);
}

bool WriteWav(const std::vector<std::int16_t>& samples, const QString& path) {
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * 2);
    QByteArray bytes("RIFF");
    PutLittleEndian(bytes, 36 + dataBytes, 4);
    bytes.append("WAVEfmt ");
    PutLittleEndian(bytes, 16, 4);  // fmt chunk size
    PutLittleEndian(bytes, 1, 2);   // PCM
    PutLittleEndian(bytes, 1, 2);   // mono
    PutLittleEndian(bytes, kSampleRateHz, 4);
    PutLittleEndian(bytes, kSampleRateHz * 2, 4);  // bytes per second
    PutLittleEndian(bytes, 2, 2);                  // block align
    PutLittleEndian(bytes, 16, 2);                 // bits per sample
    bytes.append("data");
    PutLittleEndian(bytes, dataBytes, 4);
    for (const std::int16_t s : samples) {
        PutLittleEndian(bytes, static_cast<std::uint16_t>(s), 2);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        std::fprintf(stderr, "skin_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace skinart
