#include "midi/BuiltinSynth.h"

#include "midi/synth/AudioOutput.h"
#include "midi/synth/BuiltinSynthOutput.h"
#include "midi/synth/PulseAudioOutput.h"
#include "midi/synth/SoundFontLocator.h"

namespace velmora::midi {

namespace {

// The synthesizer's device with FluidSynth's log kept quiet for as long as it exists.
class DesktopBuiltinSynth final : public MidiOutput {
public:
    explicit DesktopBuiltinSynth(PianoSound piano)
        : m_device(builtinSynthOptions(piano), synth::makeDesktopAudioBackend(m_log))
    {
    }

    unsigned deviceCount() override { return m_device.deviceCount(); }
    std::optional<std::string> deviceName(unsigned device) override { return m_device.deviceName(device); }
    std::uint32_t open(unsigned device, Handle& handle) override { return m_device.open(device, handle); }
    std::uint32_t close(Handle handle) override { return m_device.close(handle); }
    std::uint32_t reset(Handle handle) override { return m_device.reset(handle); }
    std::uint32_t shortMessage(Handle handle, std::uint32_t packed) override
    {
        return m_device.shortMessage(handle, packed);
    }
    std::uint32_t prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize) override
    {
        return m_device.prepareHeader(handle, header, headerSize);
    }
    std::uint32_t longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize) override
    {
        return m_device.longMessage(handle, header, headerSize);
    }

private:
    // Declared first: the log outlives the device and every synthesizer it makes.
    synth::FluidLog m_log;
    synth::BuiltinSynthOutput m_device;
};

}  // namespace

synth::BuiltinSynthOptions builtinSynthOptions(PianoSound piano)
{
    synth::BuiltinSynthOptions o;
    o.soundFontFolders = synth::standardSoundFontFolders();
    o.engine.practicePiano = piano == PianoSound::Practice;
    return o;
}

std::unique_ptr<MidiOutput> createBuiltinSynthOutput(PianoSound piano)
{
    return std::make_unique<DesktopBuiltinSynth>(piano);
}

}  // namespace velmora::midi
