#include "midi/CompositeMidiOutput.h"

#include "midi/BuiltinSynth.h"
#include "midi/RtMidiOutput.h"

namespace velmora::midi {

CompositeMidiOutput::CompositeMidiOutput(std::vector<std::unique_ptr<MidiOutput>> backends)
{
    for (auto& backend : backends)
        if (backend)
            m_backends.push_back(std::move(backend));
    m_counts.assign(m_backends.size(), 0);
}

unsigned CompositeMidiOutput::deviceCount()
{
    unsigned total = 0;
    for (std::size_t i = 0; i < m_backends.size(); ++i) {
        m_counts[i] = m_backends[i]->deviceCount();
        total += m_counts[i];
    }
    m_counted = true;
    return total;
}

std::optional<CompositeMidiOutput::Local> CompositeMidiOutput::locate(unsigned device)
{
    if (!m_counted)
        deviceCount();
    for (std::size_t i = 0; i < m_backends.size(); ++i) {
        if (device < m_counts[i])
            return Local{i, device};
        device -= m_counts[i];
    }
    return std::nullopt;
}

const CompositeMidiOutput::Route* CompositeMidiOutput::route(Handle handle) const
{
    auto it = m_routes.find(handle);
    return it == m_routes.end() ? nullptr : &it->second;
}

std::optional<std::string> CompositeMidiOutput::deviceName(unsigned device)
{
    const std::optional<Local> local = locate(device);
    if (!local)
        return std::nullopt;
    return m_backends[local->backend]->deviceName(local->device);
}

std::uint32_t CompositeMidiOutput::open(unsigned device, Handle& handle)
{
    handle = kNoHandle;
    const std::optional<Local> local = locate(device);
    if (!local)
        return mmresult::BadDeviceId;
    Handle inner = kNoHandle;
    const std::uint32_t result = m_backends[local->backend]->open(local->device, inner);
    if (result != mmresult::NoError)
        return result;
    handle = m_nextHandle++;
    m_routes.emplace(handle, Route{local->backend, inner});
    return result;
}

std::uint32_t CompositeMidiOutput::close(Handle handle)
{
    const Route* r = route(handle);
    if (!r)
        return mmresult::InvalidHandle;
    const std::uint32_t result = m_backends[r->backend]->close(r->handle);
    // A handle its backend no longer knows is of no use either.
    if (result == mmresult::NoError || result == mmresult::InvalidHandle)
        m_routes.erase(handle);
    return result;
}

std::uint32_t CompositeMidiOutput::reset(Handle handle)
{
    const Route* r = route(handle);
    return r ? m_backends[r->backend]->reset(r->handle) : mmresult::InvalidHandle;
}

std::uint32_t CompositeMidiOutput::shortMessage(Handle handle, std::uint32_t packed)
{
    const Route* r = route(handle);
    return r ? m_backends[r->backend]->shortMessage(r->handle, packed) : mmresult::InvalidHandle;
}

std::uint32_t CompositeMidiOutput::prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    const Route* r = route(handle);
    return r ? m_backends[r->backend]->prepareHeader(r->handle, header, headerSize) : mmresult::InvalidHandle;
}

std::uint32_t CompositeMidiOutput::longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    const Route* r = route(handle);
    return r ? m_backends[r->backend]->longMessage(r->handle, header, headerSize) : mmresult::InvalidHandle;
}

std::unique_ptr<MidiOutput> createSystemMidiOutput(PianoSound piano)
{
    std::vector<std::unique_ptr<MidiOutput>> backends;
    backends.push_back(createBuiltinSynthOutput(piano));
    backends.push_back(std::make_unique<RtMidiOutput>());
    return std::make_unique<CompositeMidiOutput>(std::move(backends));
}

}  // namespace velmora::midi
