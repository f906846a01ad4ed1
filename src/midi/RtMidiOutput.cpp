#include "midi/RtMidiOutput.h"

#include <array>
#include <new>
#include <type_traits>

namespace velmora::midi {
namespace {

constexpr const char* kClientName = "Velmora";

// JACK is left out on Linux: RtMidi 5's JACK client crashes on a port name query when no JACK
// server runs, and the system's synthesizers are reachable through the ALSA sequencer anyway.
#ifdef __linux__
constexpr RtMidi::Api kSystemApi = RtMidi::LINUX_ALSA;
#else
constexpr RtMidi::Api kSystemApi = RtMidi::UNSPECIFIED;
#endif

// RtMidiOut reporting through a callback instead of printing and throwing from inside its
// calls; the error of a call is thrown once the call has returned, so RtMidi's state is intact.
class RtMidiOutClient final : public RtMidiClient {
public:
    // The constructor itself cannot be given a callback: a missing sequencer throws from here.
    RtMidiOutClient() : m_out(kSystemApi, kClientName) { m_out.setErrorCallback(&RtMidiOutClient::record, this); }

    unsigned portCount() override
    {
        return checked([this] { return m_out.getPortCount(); });
    }
    std::string portName(unsigned port) override
    {
        return checked([this, port] { return m_out.getPortName(port); });
    }
    void openPort(unsigned port) override
    {
        checked([this, port] { m_out.openPort(port, kClientName); });
    }
    void sendMessage(const std::uint8_t* bytes, std::size_t size) override
    {
        checked([this, bytes, size] { m_out.sendMessage(bytes, size); });
    }

private:
    static void record(RtMidiError::Type type, const std::string& text, void* self)
    {
        if (type == RtMidiError::DEBUG_WARNING)
            return;
        auto* client = static_cast<RtMidiOutClient*>(self);
        if (!client->m_error)
            client->m_error.emplace(text, type);
    }

    // RtMidi reports a failed send or an unknown port name only as a warning, so every report
    // counts as a failure of the call.
    template <typename Call>
    std::invoke_result_t<Call> checked(Call call)
    {
        m_error.reset();
        if constexpr (std::is_void_v<decltype(call())>) {
            call();
            throwIfFailed();
        } else {
            auto result = call();
            throwIfFailed();
            return result;
        }
    }
    void throwIfFailed()
    {
        if (m_error) {
            RtMidiError error = *m_error;
            m_error.reset();
            throw error;
        }
    }

    RtMidiOut m_out;
    std::optional<RtMidiError> m_error;
};

// Bytes of a short message by its status; 0 for a status that cannot travel as one.
std::size_t shortMessageLength(std::uint8_t status)
{
    if (status < 0x80)
        return 0;  // running status: there is no previous status on a fresh client
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0))
        return 3;
    if (status < 0xE0)
        return 2;
    switch (status) {
    case 0xF0:
    case 0xF7: return 0;  // system exclusive goes through long messages only
    case 0xF1:
    case 0xF3: return 2;
    case 0xF2: return 3;
    default: return 1;
    }
}

template <typename Call>
std::uint32_t guarded(Call call)
{
    try {
        return call();
    } catch (const RtMidiError& error) {
        return mmresultForRtMidiError(error.getType());
    } catch (const std::bad_alloc&) {
        return mmresult::NoMemory;
    } catch (...) {
        return mmresult::Error;
    }
}

}  // namespace

RtMidiClientFactory systemRtMidiClientFactory()
{
    return [] { return std::unique_ptr<RtMidiClient>(std::make_unique<RtMidiOutClient>()); };
}

// RtMidi error              Windows code
// INVALID_DEVICE            2  MMSYSERR_BADDEVICEID
// INVALID_PARAMETER         2  MMSYSERR_BADDEVICEID (RtMidi's word for a port number out of range)
// INVALID_USE               4  MMSYSERR_ALLOCATED   (a connection the layer will not make now)
// NO_DEVICES_FOUND          6  MMSYSERR_NODRIVER
// DRIVER_ERROR              6  MMSYSERR_NODRIVER    (no sequencer, refused subscription)
// MEMORY_ERROR              7  MMSYSERR_NOMEM
// WARNING, UNSPECIFIED,
// SYSTEM_ERROR, THREAD_ERROR,
// anything else             1  MMSYSERR_ERROR
std::uint32_t mmresultForRtMidiError(RtMidiError::Type type)
{
    switch (type) {
    case RtMidiError::INVALID_DEVICE:
    case RtMidiError::INVALID_PARAMETER: return mmresult::BadDeviceId;
    case RtMidiError::INVALID_USE: return mmresult::Allocated;
    case RtMidiError::NO_DEVICES_FOUND:
    case RtMidiError::DRIVER_ERROR: return mmresult::NoDriver;
    case RtMidiError::MEMORY_ERROR: return mmresult::NoMemory;
    default: return mmresult::Error;
    }
}

std::string truncateUtf8(std::string text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t cut = maxBytes;
    // A continuation byte at the cut means the character before it would be split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text;
}

RtMidiOutput::RtMidiOutput() : RtMidiOutput(systemRtMidiClientFactory()) {}

RtMidiOutput::RtMidiOutput(RtMidiClientFactory factory) : m_factory(std::move(factory)) {}

RtMidiOutput::~RtMidiOutput() = default;

RtMidiClient* RtMidiOutput::listingClient()
{
    if (!m_listing) {
        try {
            m_listing = m_factory();
        } catch (...) {
            m_listing.reset();
        }
    }
    return m_listing.get();
}

unsigned RtMidiOutput::deviceCount()
{
    RtMidiClient* client = listingClient();
    if (!client)
        return 0;
    try {
        return client->portCount();
    } catch (...) {
        return 0;
    }
}

std::optional<std::string> RtMidiOutput::deviceName(unsigned device)
{
    RtMidiClient* client = listingClient();
    if (!client)
        return std::nullopt;
    try {
        return truncateUtf8(client->portName(device), kMaxDeviceNameBytes);
    } catch (...) {
        return std::nullopt;
    }
}

std::uint32_t RtMidiOutput::open(unsigned device, Handle& handle)
{
    handle = kNoHandle;
    return guarded([&] {
        std::unique_ptr<RtMidiClient> client = m_factory();
        if (!client)
            return mmresult::NoDriver;
        client->openPort(device);
        const Handle opened = m_nextHandle++;
        m_ports.emplace(opened, std::move(client));
        handle = opened;
        return mmresult::NoError;
    });
}

std::uint32_t RtMidiOutput::close(Handle handle)
{
    // Destroying the client closes its port connection.
    return m_ports.erase(handle) != 0 ? mmresult::NoError : mmresult::InvalidHandle;
}

std::uint32_t RtMidiOutput::reset(Handle handle)
{
    if (m_ports.count(handle) == 0)
        return mmresult::InvalidHandle;
    // Silence and release everything on every channel, as a device reset does.
    constexpr std::array<std::uint8_t, 3> kControllers{0x78 /*all sound off*/, 0x79 /*reset controllers*/,
                                                       0x7B /*all notes off*/};
    std::uint32_t first = mmresult::NoError;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        for (std::uint8_t controller : kControllers) {
            const std::array<std::uint8_t, 3> bytes{std::uint8_t(0xB0 | channel), controller, 0x00};
            const std::uint32_t result = send(handle, bytes.data(), bytes.size());
            if (first == mmresult::NoError)
                first = result;
        }
    }
    return first;
}

std::uint32_t RtMidiOutput::shortMessage(Handle handle, std::uint32_t packed)
{
    if (m_ports.count(handle) == 0)
        return mmresult::InvalidHandle;
    const std::array<std::uint8_t, 3> bytes{static_cast<std::uint8_t>(packed & 0xFF),
                                            static_cast<std::uint8_t>((packed >> 8) & 0xFF),
                                            static_cast<std::uint8_t>((packed >> 16) & 0xFF)};
    const std::size_t length = shortMessageLength(bytes[0]);
    if (length == 0)
        return mmresult::InvalidParam;
    return send(handle, bytes.data(), length);
}

std::uint32_t RtMidiOutput::prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    if (m_ports.count(handle) == 0)
        return mmresult::InvalidHandle;
    if (header.data == nullptr || header.length == 0 || headerSize < kMidiHeaderSize)
        return mmresult::InvalidParam;
    header.prepared = true;
    return mmresult::NoError;
}

std::uint32_t RtMidiOutput::longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    if (m_ports.count(handle) == 0)
        return mmresult::InvalidHandle;
    if (!header.prepared)
        return mmresult::MidiUnprepared;
    if (header.data == nullptr || header.length == 0 || headerSize < kMidiHeaderSize)
        return mmresult::InvalidParam;
    return send(handle, header.data, header.length);
}

std::uint32_t RtMidiOutput::send(Handle handle, const std::uint8_t* bytes, std::size_t size)
{
    auto it = m_ports.find(handle);
    if (it == m_ports.end())
        return mmresult::InvalidHandle;
    return guarded([&] {
        it->second->sendMessage(bytes, size);
        return mmresult::NoError;
    });
}

}  // namespace velmora::midi
