#pragma once

#include "midi/MidiOutput.h"

#include <rtmidi/RtMidi.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace velmora::midi {

// One client of the system's MIDI output service as RtMidi offers it. Every failure arrives as
// a thrown RtMidiError, the way RtMidi reports when no error callback is installed.
class RtMidiClient {
public:
    virtual ~RtMidiClient() = default;
    virtual unsigned portCount() = 0;
    virtual std::string portName(unsigned port) = 0;
    virtual void openPort(unsigned port) = 0;
    virtual void sendMessage(const std::uint8_t* bytes, std::size_t size) = 0;
};

// Makes a new client; may throw RtMidiError (no sequencer, no memory).
using RtMidiClientFactory = std::function<std::unique_ptr<RtMidiClient>()>;

// Clients over RtMidiOut: the ALSA sequencer on Linux, the system's default elsewhere.
RtMidiClientFactory systemRtMidiClientFactory();

// The Windows multimedia code reported for an RtMidi error.
std::uint32_t mmresultForRtMidiError(RtMidiError::Type type);

// The longest prefix of at most maxBytes bytes that does not split a UTF-8 character.
std::string truncateUtf8(std::string text, std::size_t maxBytes);

// The system's MIDI output ports as Windows-style devices: device n is port n, each open
// handle owns its own client connected to that port. No exception leaves this class.
class RtMidiOutput final : public MidiOutput {
public:
    RtMidiOutput();
    explicit RtMidiOutput(RtMidiClientFactory factory);
    ~RtMidiOutput() override;

    unsigned deviceCount() override;
    std::optional<std::string> deviceName(unsigned device) override;
    std::uint32_t open(unsigned device, Handle& handle) override;
    std::uint32_t close(Handle handle) override;
    std::uint32_t reset(Handle handle) override;
    std::uint32_t shortMessage(Handle handle, std::uint32_t packed) override;
    std::uint32_t prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;
    std::uint32_t longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;

private:
    // The client that lists ports, made on first need and again after a failure.
    RtMidiClient* listingClient();
    std::uint32_t send(Handle handle, const std::uint8_t* bytes, std::size_t size);

    RtMidiClientFactory m_factory;
    std::unique_ptr<RtMidiClient> m_listing;
    std::map<Handle, std::unique_ptr<RtMidiClient>> m_ports;
    Handle m_nextHandle = 1;
};

}  // namespace velmora::midi
