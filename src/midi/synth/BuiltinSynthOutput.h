#pragma once

#include "midi/MidiOutput.h"
#include "midi/synth/AudioOutput.h"
#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/SynthEngine.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace velmora::midi::synth {

class CalibrationService;

struct BuiltinSynthOptions {
    std::vector<std::filesystem::path> soundFontFolders;
    SynthEngineConfig engine;
    // Measure each program's pitch and correct it.
    bool calibrate = true;
    CalibrationRange calibrationRange;
};

// The built-in GS synthesizer as a MIDI output with a single device, 0, listed while a General
// MIDI SoundFont is installed and FluidSynth can be made. It answers like a Windows device:
// every send on a closed or never-opened handle returns 5, an unprepared long message 64, and a
// system-exclusive message it does not understand is accepted and ignored.
class BuiltinSynthOutput final : public MidiOutput {
public:
    BuiltinSynthOutput(BuiltinSynthOptions options, std::unique_ptr<AudioBackend> audio);
    ~BuiltinSynthOutput() override;

    unsigned deviceCount() override;
    std::optional<std::string> deviceName(unsigned device) override;
    std::uint32_t open(unsigned device, Handle& handle) override;
    std::uint32_t close(Handle handle) override;
    std::uint32_t reset(Handle handle) override;
    std::uint32_t shortMessage(Handle handle, std::uint32_t packed) override;
    std::uint32_t prepareHeader(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;
    std::uint32_t longMessage(Handle handle, MidiHeader& header, std::uint32_t headerSize) override;

    // While open: the engine (an offline backend lets tests render it) and the audio format.
    SynthEngine* engine();
    std::optional<AudioFormat> audioFormat();
    // Blocks until the programs selected so far are calibrated.
    void waitForCalibration();

private:
    std::optional<std::filesystem::path> soundFont() const;
    bool synthesizerCanBeMade();
    bool isOpen(Handle handle) const { return handle != kNoHandle && handle == m_handle; }
    void calibrationReady(PresetId preset);

    BuiltinSynthOptions m_options;
    std::unique_ptr<AudioBackend> m_audio;
    std::optional<bool> m_canMakeSynth;
    // The live engine and the calibration's engine read one SoundFont through FluidSynth's
    // process-wide sample cache, from two threads: their calls into FluidSynth share this lock.
    const std::shared_ptr<std::mutex> m_fluidLock = std::make_shared<std::mutex>();
    // Lives for the run, so each program is measured once however often the port is reopened.
    std::unique_ptr<CalibrationService> m_calibration;

    // Guards the engine and stream against the calibration worker's callback.
    std::mutex m_mutex;
    std::unique_ptr<SynthEngine> m_engine;
    std::unique_ptr<AudioStream> m_stream;  // declared after the engine: stopped first
    Handle m_handle = kNoHandle;
    Handle m_nextHandle = 0xB150;
};

}  // namespace velmora::midi::synth
