#include "midi/RecordingMidiOutput.h"

namespace velmora::midi {

RecordingMidiOutput::RecordingMidiOutput(std::vector<std::string> deviceNames)
    : m_names(std::move(deviceNames))
{
}

RecordingMidiOutput::Record& RecordingMidiOutput::add(Call call)
{
    Record record;
    record.call = call;
    record.atMilliseconds = m_now ? m_now() : 0.0;
    m_records.push_back(std::move(record));
    return m_records.back();
}

std::vector<std::uint8_t> RecordingMidiOutput::unpack(std::uint32_t packed)
{
    const auto status = static_cast<std::uint8_t>(packed & 0xFF);
    const auto data1 = static_cast<std::uint8_t>((packed >> 8) & 0xFF);
    const auto data2 = static_cast<std::uint8_t>((packed >> 16) & 0xFF);
    const std::uint8_t kind = status & 0xF0;
    if (kind == 0xC0 || kind == 0xD0)
        return {status, data1};
    return {status, data1, data2};
}

unsigned RecordingMidiOutput::deviceCount()
{
    add(Call::GetNumDevs).result = static_cast<std::uint32_t>(m_names.size());
    return static_cast<unsigned>(m_names.size());
}

std::optional<std::string> RecordingMidiOutput::deviceName(unsigned device)
{
    Record& r = add(Call::GetDevCaps);
    r.device = device;
    if (device >= m_names.size()) {
        r.result = mmresult::BadDeviceId;
        return std::nullopt;
    }
    if (m_failingNames.count(device)) {
        r.result = mmresult::Error;
        return std::nullopt;
    }
    std::string name = m_names[device];
    if (name.size() > kMaxDeviceNameBytes)
        name.resize(kMaxDeviceNameBytes);
    return name;
}

std::uint32_t RecordingMidiOutput::open(unsigned device, Handle& handle)
{
    Record& r = add(Call::Open);
    r.device = device;
    std::uint32_t result = mmresult::NoError;
    if (device >= m_names.size())
        result = mmresult::BadDeviceId;
    else if (m_openFailAll != 0)
        result = m_openFailAll;
    else if (auto it = m_openFailures.find(device); it != m_openFailures.end() && it->second != 0)
        result = it->second;
    if (result == mmresult::NoError) {
        handle = m_nextHandle++;
        m_open.insert(handle);
    } else {
        // Windows leaves the handle invalid after a failed open.
        handle = kNoHandle;
    }
    r.handle = handle;
    r.result = result;
    return result;
}

std::uint32_t RecordingMidiOutput::close(Handle handle)
{
    Record& r = add(Call::Close);
    r.handle = handle;
    r.result = m_open.erase(handle) ? mmresult::NoError : mmresult::InvalidHandle;
    return r.result;
}

std::uint32_t RecordingMidiOutput::reset(Handle handle)
{
    Record& r = add(Call::Reset);
    r.handle = handle;
    r.result = m_open.count(handle) ? mmresult::NoError : mmresult::InvalidHandle;
    return r.result;
}

std::uint32_t RecordingMidiOutput::shortMessage(Handle handle, std::uint32_t packed)
{
    Record& r = add(Call::ShortMsg);
    r.handle = handle;
    r.bytes = unpack(packed);
    r.result = m_open.count(handle) ? mmresult::NoError : mmresult::InvalidHandle;
    return r.result;
}

std::uint32_t RecordingMidiOutput::prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    Record& r = add(Call::PrepareHeader);
    r.handle = handle;
    r.headerSize = headerSize;
    if (header.data)
        r.bytes.assign(header.data, header.data + header.length);
    if (!m_open.count(handle)) {
        r.result = mmresult::InvalidHandle;
        return r.result;
    }
    header.prepared = true;
    r.result = mmresult::NoError;
    return r.result;
}

std::uint32_t RecordingMidiOutput::longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    Record& r = add(Call::LongMsg);
    r.handle = handle;
    r.headerSize = headerSize;
    if (header.data)
        r.bytes.assign(header.data, header.data + header.length);
    if (!m_open.count(handle))
        r.result = mmresult::InvalidHandle;
    else if (!header.prepared)
        r.result = mmresult::MidiUnprepared;
    else
        r.result = m_longFailure;
    return r.result;
}

std::vector<std::vector<std::uint8_t>> RecordingMidiOutput::deliveredMessages() const
{
    std::vector<std::vector<std::uint8_t>> out;
    for (const Record& r : m_records)
        if ((r.call == Call::ShortMsg || r.call == Call::LongMsg) && r.result == mmresult::NoError)
            out.push_back(r.bytes);
    return out;
}

std::vector<std::vector<std::uint8_t>> RecordingMidiOutput::attemptedMessages() const
{
    std::vector<std::vector<std::uint8_t>> out;
    for (const Record& r : m_records)
        if (r.call == Call::ShortMsg || r.call == Call::LongMsg)
            out.push_back(r.bytes);
    return out;
}

}  // namespace velmora::midi
