#include "platform/midi_input.h"

#include <alsa/asoundlib.h>
#include <rtmidi/RtMidi.h>

#include <cstdarg>
#include <iostream>
#include <mutex>
#include <streambuf>
#include <vector>

namespace crestline {
namespace {

// ALSA's library prints its own line for every failure ("open /dev/snd/seq
// failed"); our log line says what matters, once.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}

// RtMidi writes an error to std::cerr before it throws it; the caller logs
// the failure itself. Only our own thread's RtMidi calls run meanwhile.
class QuietCerr {
public:
    QuietCerr() : previous_(std::cerr.rdbuf(&sink_)) {}
    ~QuietCerr() { std::cerr.rdbuf(previous_); }
    QuietCerr(const QuietCerr&) = delete;
    QuietCerr& operator=(const QuietCerr&) = delete;

private:
    struct Sink final : std::streambuf {
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    Sink sink_;
    std::streambuf* previous_;
};

class RtMidiInput final : public MidiInput {
public:
    ~RtMidiInput() override { close(); }

    MidiOpenResult open(const std::string& name, Handler handler) override {
        std::scoped_lock lock(mutex_);
        if (port_) return {};
        std::unique_ptr<RtMidiIn> port;
        static std::once_flag alsaQuieted;
        std::call_once(alsaQuieted, [] { snd_lib_error_set_handler(&quietAlsa); });
        QuietCerr quiet;
        try {
            port = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, name);
        } catch (const RtMidiError& error) {
            return {MidiOpenResult::Failure::client, static_cast<int>(error.getType())};
        } catch (const std::exception&) {
            return {MidiOpenResult::Failure::client, static_cast<int>(RtMidiError::UNSPECIFIED)};
        }
        // RtMidi falls back to any other compiled API when the one asked for
        // is missing; we only trust ALSA here (see the header).
        if (port->getCurrentApi() != RtMidi::LINUX_ALSA) {
            return {MidiOpenResult::Failure::client, static_cast<int>(RtMidiError::DRIVER_ERROR)};
        }
        handler_ = std::move(handler);
        try {
            port->setCallback(&RtMidiInput::deliver, this);
            // Sysex and active sensing off; timing clock must come through.
            port->ignoreTypes(true, false, true);
            port->openVirtualPort(name);
        } catch (const RtMidiError& error) {
            handler_ = {};
            return {MidiOpenResult::Failure::port, static_cast<int>(error.getType())};
        }
        port_ = std::move(port);
        return {};
    }

    void close() override {
        std::unique_ptr<RtMidiIn> port;
        {
            std::scoped_lock lock(mutex_);
            port = std::move(port_);
        }
        if (!port) return;
        // Destroying the port closes it and joins RtMidi's input thread, so
        // no callback runs once this returns.
        port.reset();
        std::scoped_lock lock(mutex_);
        handler_ = {};
    }

    bool isOpen() const override {
        std::scoped_lock lock(mutex_);
        return port_ != nullptr;
    }

private:
    // On RtMidi's input thread. `handler_` is set before the port opens
    // and cleared only after its thread has been joined.
    static void deliver(double /*deltaSeconds*/, std::vector<unsigned char>* message, void* user) {
        auto* self = static_cast<RtMidiInput*>(user);
        if (message == nullptr || !self->handler_) return;
        self->handler_(std::span<const std::uint8_t>(message->data(), message->size()));
    }

    mutable std::mutex mutex_;
    std::unique_ptr<RtMidiIn> port_;
    Handler handler_;
};

}  // namespace

std::unique_ptr<MidiInput> makeSystemMidiInput() { return std::make_unique<RtMidiInput>(); }

}  // namespace crestline
