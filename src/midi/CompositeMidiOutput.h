#pragma once

#include "midi/BuiltinSynth.h"
#include "midi/MidiOutput.h"

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::midi {

// Several MIDI outputs seen as one: their devices follow one another in the order of the
// backends, and every open port gets a handle of this output's own.
class CompositeMidiOutput final : public MidiOutput {
public:
    explicit CompositeMidiOutput(std::vector<std::unique_ptr<MidiOutput>> backends);

    unsigned deviceCount() override;
    std::optional<std::string> deviceName(unsigned device) override;
    std::uint32_t open(unsigned device, Handle& handle) override;
    std::uint32_t close(Handle handle) override;
    std::uint32_t reset(Handle handle) override;
    std::uint32_t shortMessage(Handle handle, std::uint32_t packed) override;
    std::uint32_t prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;
    std::uint32_t longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;

private:
    struct Route {
        std::size_t backend = 0;
        Handle handle = kNoHandle;
    };
    struct Local {
        std::size_t backend = 0;
        unsigned device = 0;
    };

    // The backend and its own device number behind a device number, by the counts of the last listing.
    std::optional<Local> locate(unsigned device);
    const Route* route(Handle handle) const;

    std::vector<std::unique_ptr<MidiOutput>> m_backends;
    // Device counts per backend as last asked; device numbers stay as that listing showed them.
    std::vector<unsigned> m_counts;
    bool m_counted = false;
    std::map<Handle, Route> m_routes;
    Handle m_nextHandle = 1;
};

// The program's MIDI output: the built-in synthesizer first, then the system's MIDI ports.
std::unique_ptr<MidiOutput> createSystemMidiOutput(PianoSound piano = PianoSound::Practice);

}  // namespace velmora::midi
