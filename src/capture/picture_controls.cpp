#include "capture/picture_controls.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "capture/capture_engine.h"
#include "media/video_norms.h"

namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

PicturePropertyTable MakePicturePropertyTable() {
    PicturePropertyTable table;
    const std::array<std::pair<const char*, int>, kPicturePropertyRows> rows = {{
        {"Brightness", kBrightness},
        {"Contrast", kContrast},
        {"Saturation", kSaturation},
        {"Sharpness", kSharpness},
        {"Gamma", kGamma},
        {"Hue", kHue},
    }};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        table[i].name = rows[i].first;
        table[i].property = rows[i].second;
    }
    return table;
}

void ReadPictureProperties(DeviceControls& controls, PicturePropertyTable& table) {
    for (PicturePropertyRow& row : table) {
        PropertyRange range;
        int value = 0;
        row.available = Succeeded(controls.GetPropertyRange(row.property, range)) &&
                        Succeeded(controls.GetProperty(row.property, value));
        if (row.available) {
            row.range = range;
            row.value = value;
        }
    }
}

int FindPicturePropertyRow(const PicturePropertyTable& table, std::string_view name) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (SameName(table[i].name, name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SettleLibraryNorm(CaptureEngine& engine) {
    int norm = kNormNtscM;
    if (!Succeeded(engine.GetNorm(norm)) || norm == kNormNtscM) {
        return kNormNtscM;
    }
    if (norm != kNormPalB) {
        engine.SetNorm(kNormPalB);
    }
    return kNormPalB;
}

std::vector<std::string> ResolutionChoiceTexts(bool libraryDevice, int norm) {
    if (libraryDevice) {
        return {"320x240", "640x480", norm == kNormNtscM ? "720x480" : "720x576"};
    }
    return {"320x240", "640*480", "1280*1024"};
}

FrameSize ResolutionChoiceSize(int item, bool libraryDevice, int norm) {
    switch (item) {
        case 0:
            return {320, 240};
        case 1:
            return {640, 480};
        default:
            if (libraryDevice) {
                return {720, norm == kNormNtscM ? 480 : 576};
            }
            return {1280, 1024};
    }
}

int ResolutionChoiceFor(int width, bool libraryDevice) {
    if (libraryDevice) {
        return width == 320 ? 0 : width == 640 ? 1 : 2;
    }
    return width <= 320 ? 0 : width <= 640 ? 1 : 2;
}

PictureControlChannel::PictureControlChannel(std::unique_ptr<DeviceControls> controls,
                                             std::function<void()> onSent)
    : controls_(std::move(controls)), onSent_(std::move(onSent)) {
    thread_ = std::thread([this] { Run(); });
}

PictureControlChannel::~PictureControlChannel() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void PictureControlChannel::Send(int property, int value) {
    if (property < 0 || property >= kPicturePropertyRows) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        waiting_[static_cast<std::size_t>(property)] = value;
    }
    wake_.notify_one();
}

std::vector<SentPictureProperty> PictureControlChannel::TakeSent() {
    std::lock_guard lock(mutex_);
    return std::exchange(answers_, {});
}

void PictureControlChannel::Run() {
    // Properties take turns, so a dragged slider does not hold the others back.
    std::size_t next = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto waiting = [this] {
            return std::any_of(waiting_.begin(), waiting_.end(),
                               [](const std::optional<int>& value) { return value.has_value(); });
        };
        wake_.wait(lock, [&] { return stopping_ || waiting(); });
        if (!waiting()) {
            return;  // stopping, and everything was sent
        }
        while (!waiting_[next].has_value()) {
            next = (next + 1) % waiting_.size();
        }
        SentPictureProperty sent;
        sent.property = static_cast<int>(next);
        sent.requested = *waiting_[next];
        waiting_[next].reset();
        next = (next + 1) % waiting_.size();
        lock.unlock();
        if (controls_ == nullptr) {
            sent.result = hr::kPointer;
        } else {
            sent.result = controls_->SetProperty(sent.property, sent.requested);
            sent.readBack = Succeeded(controls_->GetProperty(sent.property, sent.value));
        }
        lock.lock();
        answers_.push_back(sent);
        if (onSent_) {
            lock.unlock();
            onSent_();
            lock.lock();
        }
    }
}
