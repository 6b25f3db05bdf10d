#include "platform/sound_player.h"

#include <gio/gio.h>
#include <gst/gst.h>

#include <QFile>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(soundCategory, "microscope.sound", QtWarningMsg)

constexpr int kBusPollMs = 50;

bool GstReady() {
    static const bool ready = gst_init_check(nullptr, nullptr, nullptr) != FALSE;
    return ready;
}

GstElement* Element(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

}  // namespace

SoundPlayer::SoundPlayer(QObject* parent, QString audioSink)
    : QObject(parent), audioSink_(std::move(audioSink)) {
    busPoll_.setInterval(kBusPollMs);
    connect(&busPoll_, &QTimer::timeout, this, &SoundPlayer::PollBus);
}

SoundPlayer::~SoundPlayer() {
    Stop();
}

bool SoundPlayer::Play(int soundId) {
    Q_EMIT soundRequested(soundId);
    QFile file(QStringLiteral(":/sounds/%1.wav").arg(soundId));
    if (!file.open(QIODevice::ReadOnly)) {
        qCDebug(soundCategory, "No sound %d", soundId);
        return false;
    }
    return PlayWav(file.readAll());
}

bool SoundPlayer::PlayWav(QByteArray wav) {
    Stop();
    if (wav.isEmpty() || !GstReady()) {
        return false;
    }
    wav_ = std::move(wav);
    // The bytes are read in place from memory: source, WAV parser, conversion, output.
    GstElement* pipeline = gst_pipeline_new("sound");
    GstElement* source = Element("giostreamsrc");
    GstElement* parser = Element("wavparse");
    GstElement* convert = Element("audioconvert");
    GstElement* resample = Element("audioresample");
    GstElement* sink = Element(audioSink_.toUtf8().constData());
    GstElement* elements[] = {source, parser, convert, resample, sink};
    bool complete = pipeline != nullptr;
    for (GstElement* element : elements) {
        complete = complete && element != nullptr;
    }
    if (!complete) {
        qCDebug(soundCategory, "Sound output is not available");
        for (GstElement* element : elements) {
            if (element != nullptr) {
                gst_object_unref(element);
            }
        }
        if (pipeline != nullptr) {
            gst_object_unref(pipeline);
        }
        return false;
    }
    GInputStream* stream = g_memory_input_stream_new_from_data(
        wav_.constData(), static_cast<gssize>(wav_.size()), nullptr);
    g_object_set(source, "stream", stream, nullptr);
    g_object_unref(stream);
    if (audioSink_ == QStringLiteral("fakesink")) {
        g_object_set(sink, "sync", FALSE, nullptr);
    }
    gst_bin_add_many(GST_BIN(pipeline), source, parser, convert, resample, sink, nullptr);
    if (!gst_element_link_many(source, parser, convert, resample, sink, nullptr)) {
        gst_object_unref(pipeline);
        return false;
    }
    pipeline_ = pipeline;
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        qCDebug(soundCategory, "Sound output could not start");
        Stop();
        return false;
    }
    busPoll_.start();
    return true;
}

void SoundPlayer::Stop() {
    busPoll_.stop();
    if (pipeline_ != nullptr) {
        auto* pipeline = static_cast<GstElement*>(pipeline_);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        pipeline_ = nullptr;
    }
    wav_.clear();
}

// The end of the sound or an error (no audio device, a damaged file) ends the pipeline.
void SoundPlayer::PollBus() {
    if (pipeline_ == nullptr) {
        busPoll_.stop();
        return;
    }
    GstBus* bus = gst_element_get_bus(static_cast<GstElement*>(pipeline_));
    bool finished = false;
    bool failed = false;
    while (GstMessage* message = gst_bus_pop_filtered(
               bus, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))) {
        finished = finished || GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS;
        failed = failed || GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR;
        gst_message_unref(message);
    }
    gst_object_unref(bus);
    if (finished || failed) {
        if (finished && !failed) {
            ++soundsFinished_;
        } else {
            qCDebug(soundCategory, "A sound could not be played");
        }
        Stop();
    }
}
