#include "midi/synth/BuiltinSynthOutput.h"

#include "midi/BuiltinSynth.h"
#include "midi/synth/CalibrationService.h"
#include "midi/synth/SoundFontLocator.h"

namespace velmora::midi::synth {

BuiltinSynthOutput::BuiltinSynthOutput(BuiltinSynthOptions options, std::unique_ptr<AudioBackend> audio)
    : m_options(std::move(options)), m_audio(std::move(audio))
{
}

BuiltinSynthOutput::~BuiltinSynthOutput()
{
    {
        // The engine goes before the calibration it asks; the worker, joined after, then finds
        // no engine to re-tune.
        std::lock_guard lock(m_mutex);
        m_stream.reset();
        m_engine.reset();
        m_handle = kNoHandle;
    }
    m_calibration.reset();
}

std::optional<std::filesystem::path> BuiltinSynthOutput::soundFont() const
{
    return findGeneralMidiSoundFont(m_options.soundFontFolders);
}

bool BuiltinSynthOutput::synthesizerCanBeMade()
{
    if (!m_canMakeSynth)
        m_canMakeSynth = SynthEngine::create(m_options.engine) != nullptr;
    return *m_canMakeSynth;
}

unsigned BuiltinSynthOutput::deviceCount()
{
    return soundFont() && synthesizerCanBeMade() ? 1u : 0u;
}

std::optional<std::string> BuiltinSynthOutput::deviceName(unsigned device)
{
    if (device != 0 || deviceCount() == 0)
        return std::nullopt;
    return std::string(kBuiltinSynthName).substr(0, kMaxDeviceNameBytes);
}

std::uint32_t BuiltinSynthOutput::open(unsigned device, Handle& handle)
{
    const auto font = device == 0 && synthesizerCanBeMade() ? soundFont() : std::nullopt;
    std::lock_guard lock(m_mutex);
    if (!font) {
        handle = kNoHandle;
        return mmresult::BadDeviceId;
    }
    if (m_handle != kNoHandle) {
        handle = kNoHandle;
        return mmresult::Allocated;
    }
    if (m_options.calibrate && !m_calibration) {
        m_calibration = std::make_unique<CalibrationService>(*font, m_options.engine.sampleRate,
                                                             m_options.calibrationRange, m_fluidLock);
        m_calibration->setReadyListener([this](PresetId preset) { calibrationReady(preset); });
    }

    auto started = m_audio->start([this](double sampleRate) {
        SynthEngineConfig config = m_options.engine;
        config.sampleRate = sampleRate;
        config.fluidLock = m_fluidLock;
        return SynthEngine::create(config, m_calibration.get());
    });
    if (!started) {
        handle = kNoHandle;
        return mmresult::NoDriver;
    }
    // The driver already renders: until the SoundFont is in, it renders silence.
    if (!started->engine->loadSoundFont(*font)) {
        started->stream.reset();
        handle = kNoHandle;
        return mmresult::Error;
    }
    m_engine = std::move(started->engine);
    m_stream = std::move(started->stream);
    m_handle = m_nextHandle++;
    handle = m_handle;
    return mmresult::NoError;
}

std::uint32_t BuiltinSynthOutput::close(Handle handle)
{
    std::lock_guard lock(m_mutex);
    if (!isOpen(handle))
        return mmresult::InvalidHandle;
    // Audio first: the driver's thread renders the engine until it is stopped.
    m_stream.reset();
    m_engine.reset();
    m_handle = kNoHandle;
    // Nothing plays the corrections any more; whatever was not measured yet is measured when a
    // program asks for it again, so a closing program does not wait for a calibration.
    if (m_calibration)
        m_calibration->cancel();
    return mmresult::NoError;
}

std::uint32_t BuiltinSynthOutput::reset(Handle handle)
{
    std::lock_guard lock(m_mutex);
    if (!isOpen(handle))
        return mmresult::InvalidHandle;
    m_engine->releaseAll();
    return mmresult::NoError;
}

std::uint32_t BuiltinSynthOutput::shortMessage(Handle handle, std::uint32_t packed)
{
    std::lock_guard lock(m_mutex);
    if (!isOpen(handle))
        return mmresult::InvalidHandle;
    m_engine->shortMessage(packed);
    return mmresult::NoError;
}

std::uint32_t BuiltinSynthOutput::prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    std::lock_guard lock(m_mutex);
    if (!isOpen(handle))
        return mmresult::InvalidHandle;
    if (headerSize < kMidiHeaderSize || header.data == nullptr || header.length == 0)
        return mmresult::InvalidParam;
    header.prepared = true;
    return mmresult::NoError;
}

std::uint32_t BuiltinSynthOutput::longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize)
{
    std::lock_guard lock(m_mutex);
    if (!isOpen(handle))
        return mmresult::InvalidHandle;
    if (!header.prepared)
        return mmresult::MidiUnprepared;
    if (headerSize < kMidiHeaderSize || header.data == nullptr || header.length == 0)
        return mmresult::InvalidParam;
    m_engine->systemExclusive(std::span(header.data, header.length));
    return mmresult::NoError;
}

SynthEngine* BuiltinSynthOutput::engine()
{
    std::lock_guard lock(m_mutex);
    return m_engine.get();
}

std::optional<AudioFormat> BuiltinSynthOutput::audioFormat()
{
    std::lock_guard lock(m_mutex);
    if (!m_stream)
        return std::nullopt;
    return m_stream->format();
}

void BuiltinSynthOutput::waitForCalibration()
{
    if (m_calibration)
        m_calibration->waitUntilIdle();
}

void BuiltinSynthOutput::calibrationReady(PresetId preset)
{
    std::lock_guard lock(m_mutex);
    if (m_engine)
        m_engine->calibrationReady(preset);
}

}  // namespace velmora::midi::synth
