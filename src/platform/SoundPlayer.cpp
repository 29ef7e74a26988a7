#include "platform/SoundPlayer.h"

#include <canberra.h>

#include <atomic>
#include <cmath>
#include <cstdio>

#include "services/Log.h"
#include "services/MainDispatcher.h"
#include "services/SerialQueue.h"

namespace quorvel::SoundPlayer {
namespace {

constexpr double kSimpleFactor = 0.4;

// Main-thread state: set by the controller, read where the cues are decided.
ConfigProvider& configProvider() {
    static ConfigProvider provider;
    return provider;
}
Output& output() {
    static Output out;
    return out;
}

// The sound-system error is worth one line per run: without a sound server every cue fails the
// same way and nothing is wrong with the program.
void warnOnce(const std::string& message) {
    static std::atomic<bool> warned{false};
    if (!warned.exchange(true)) Log::warn(message);
}

// One thread owns the libcanberra context and plays the cues one after another; connecting to
// the sound server and decoding a sound file never happen on the caller's thread.
class CanberraThread {
public:
    static CanberraThread& instance() {
        static CanberraThread thread;
        return thread;
    }

    void enqueue(Cue cue) {
        queue_.enqueue([this, cue = std::move(cue)] { playNow(cue); });
    }

    void drain() { queue_.drain(); }

private:
    CanberraThread() = default;

    bool ensureContext() {
        if (context_) return true;
        if (int rc = ca_context_create(&context_); rc != CA_SUCCESS) {
            context_ = nullptr;
            warnOnce(std::string("sound: libcanberra unavailable: ") + ca_strerror(rc));
            return false;
        }
        ca_context_change_props(context_, CA_PROP_APPLICATION_NAME, "Tovik", CA_PROP_APPLICATION_ID,
                                "com.brellun.quorvel", nullptr);
        if (int rc = ca_context_open(context_); rc != CA_SUCCESS) {
            dropContext();
            warnOnce(std::string("sound: no sound server, cues are silent: ") + ca_strerror(rc));
            return false;
        }
        return true;
    }

    void dropContext() {
        ca_context_destroy(context_);
        context_ = nullptr;
    }

    void playNow(const Cue& cue) {
        if (!ensureContext()) return;  // tried again with the next cue: the server may come back
        int rc;
        if (cue.decibels) {
            // libcanberra reads the gain with strtod in the process locale; format it with the
            // same locale so a decimal comma round-trips.
            char gain[32];
            std::snprintf(gain, sizeof gain, "%.2f", *cue.decibels);
            rc = ca_context_play(context_, 0, CA_PROP_EVENT_ID, cue.eventID.c_str(), CA_PROP_CANBERRA_VOLUME, gain,
                                 nullptr);
        } else {
            rc = ca_context_play(context_, 0, CA_PROP_EVENT_ID, cue.eventID.c_str(), nullptr);
        }
        if (rc == CA_SUCCESS || rc == CA_ERROR_NOTFOUND) return;  // a sound the theme lacks stays silent
        warnOnce(std::string("sound: cue \"") + cue.eventID + "\" not played: " + ca_strerror(rc));
        if (rc == CA_ERROR_DISCONNECTED || rc == CA_ERROR_NOTAVAILABLE) dropContext();
    }

    ca_context* context_ = nullptr;  // sound thread only
    // Declared last, destroyed first: plays what is still queued, then lets the context go on
    // its own thread.
    SerialQueue queue_{[this] {
        if (context_) dropContext();
    }};
};

void deliver(const Cue& cue) {
    if (output()) {
        output()(cue);
        return;
    }
    CanberraThread::instance().enqueue(cue);
}

}  // namespace

void setConfigProvider(ConfigProvider provider) { configProvider() = std::move(provider); }

void setOutput(Output out) { output() = std::move(out); }

const char* eventID(Kind kind) {
    switch (kind) {
        case Kind::recordStart: return "device-added";
        case Kind::recordStop: return "message";
        case Kind::paste: return "message";
        case Kind::cancel: return "dialog-warning";
    }
    return "message";
}

double linearVolume(const Settings& settings) {
    double volume = settings.volume;
    if (settings.profile == "simple") volume *= kSimpleFactor;
    if (volume >= 1.0) return 1.0;
    if (volume >= 0.0) return volume;
    return 0.0;  // negative or not a number
}

std::optional<Cue> decide(Kind kind, const std::optional<Settings>& settings) {
    if (!settings) return Cue{kind, eventID(kind), std::nullopt};
    if (settings->profile == "off") return std::nullopt;
    const double volume = linearVolume(*settings);
    if (volume <= 0.0) return std::nullopt;  // silence: nothing to send to the sound server
    return Cue{kind, eventID(kind), 20.0 * std::log10(volume)};
}

void play(Kind kind) {
    MainDispatcher::dispatch([kind] {
        std::optional<Settings> settings;
        if (configProvider()) settings = configProvider()();
        if (auto cue = decide(kind, settings)) deliver(*cue);
    });
}

void drain() { CanberraThread::instance().drain(); }

}  // namespace quorvel::SoundPlayer
