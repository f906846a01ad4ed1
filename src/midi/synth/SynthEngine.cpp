#include "midi/synth/SynthEngine.h"

#include "midi/synth/GsSysex.h"

#include <algorithm>
#include <variant>

namespace velmora::midi::synth {

namespace {

constexpr int kBankSelect = 0;
// Each channel's tuning lives in the tuning bank 0 at the program number of the channel.
constexpr int kTuningBank = 0;
constexpr const char* kTuningName = "scale";
// The dither: half a cent up, and the vibrato LFO at its highest rate (4500 absolute cents,
// 110 Hz) sweeping +-0.5 cent. At 48 kHz the sweep advances 11/75 of a period per 64-frame
// block, so 75 blocks (0.1 s) sample the triangle evenly.
constexpr float kDitherCentre = 0.5f;
constexpr float kDitherDepth = 0.5f;
constexpr float kDitherLfoCents = 4500.0f;

}  // namespace

std::unique_ptr<SynthEngine> SynthEngine::create(const SynthEngineConfig& config, CalibrationProvider* calibration)
{
    FluidSettingsPtr settings(new_fluid_settings());
    if (!settings)
        return nullptr;
    fluid_settings_t* s = settings.get();
    fluid_settings_setnum(s, "synth.sample-rate", config.sampleRate);
    fluid_settings_setint(s, "synth.polyphony", config.polyphony);
    fluid_settings_setnum(s, "synth.gain", config.gain);
    fluid_settings_setint(s, "synth.midi-channels", kChannels);
    fluid_settings_setint(s, "synth.reverb.active", 0);
    fluid_settings_setint(s, "synth.chorus.active", 0);
    fluid_settings_setint(s, "synth.threadsafe-api", 1);
    fluid_settings_setint(s, "synth.cpu-cores", 1);
    fluid_settings_setint(s, "synth.dynamic-sample-loading", config.dynamicSampleLoading ? 1 : 0);
    fluid_settings_setint(s, "synth.lock-memory", config.lockSampleMemory ? 1 : 0);
    fluid_settings_setstr(s, "synth.midi-bank-select", "gs");

    FluidSynthPtr synth(new_fluid_synth(s));
    if (!synth)
        return nullptr;
    auto lock = config.fluidLock ? config.fluidLock : std::make_shared<std::mutex>();
    std::unique_ptr<SynthEngine> engine(new SynthEngine(std::move(settings), std::move(synth), calibration,
                                                        std::move(lock), config.polyphony));
    // Its keys start in equal temperament, as the channels do.
    if (config.practicePiano)
        engine->m_piano = std::make_unique<PracticePiano>(engine->sampleRate(), config.polyphony);
    return engine;
}

SynthEngine::SynthEngine(FluidSettingsPtr settings, FluidSynthPtr synth, CalibrationProvider* calibration,
                         std::shared_ptr<std::mutex> lock, int polyphony)
    : m_settings(std::move(settings)), m_synth(std::move(synth)), m_calibration(calibration),
      m_lock(std::move(lock)), m_voices(static_cast<std::size_t>(std::max(polyphony, 1)) + 1)
{
}

SynthEngine::~SynthEngine()
{
    // Deleting the synthesizer unloads its presets, which can free an entry of FluidSynth's
    // process-wide sample cache that another engine on this lock is about to use.
    std::lock_guard lock(*m_lock);
    m_synth.reset();
}

bool SynthEngine::loadSoundFont(const std::filesystem::path& file)
{
    std::unique_lock lock(*m_lock, std::defer_lock);
    // With samples read per preset, reading the file touches no sample data: only selecting
    // the presets does, so the lock that may be shared with another engine is not held for the
    // tenth of a second the file takes.
    int dynamic = 0;
    fluid_settings_getint(m_settings.get(), "synth.dynamic-sample-loading", &dynamic);
    if (!dynamic)
        lock.lock();
    if (fluid_synth_sfload(m_synth.get(), file.string().c_str(), 0) == FLUID_FAILED)
        return false;
    if (!lock.owns_lock())
        lock.lock();
    fluid_synth_program_reset(m_synth.get());
    m_hasSoundFont = true;
    resetChannelsLocked();
    return true;
}

void SynthEngine::resetChannelsLocked()
{
    std::array<PresetId, kChannels> before{};
    for (int ch = 0; ch < kChannels; ++ch)
        before[static_cast<std::size_t>(ch)] = m_channels[static_cast<std::size_t>(ch)].preset;
    for (int ch = 0; ch < kChannels; ++ch) {
        m_channels[static_cast<std::size_t>(ch)] = Channel{};
        fetchCorrectionLocked(ch);
        Channel& c = m_channels[static_cast<std::size_t>(ch)];
        c.applied = c.correction;
        writeTuningLocked(ch, true);
        // Offsets of the channel, added to every voice it starts; a reset clears them.
        fluid_synth_set_gen(m_synth.get(), ch, GEN_FINETUNE, kDitherCentre);
        fluid_synth_set_gen(m_synth.get(), ch, GEN_VIBLFOTOPITCH, kDitherDepth);
        if (m_piano) {
            m_piano->sustain(ch, false);
            m_piano->allNotesOff(ch);
            m_piano->allSoundOff(ch);
        }
    }
    for (const PresetId& preset : before)
        releasePresetLocked(preset);
}

void SynthEngine::releasePresetLocked(PresetId preset)
{
    if (!m_calibration)
        return;
    for (int ch = 0; ch < kChannels; ++ch)
        if (m_channels[static_cast<std::size_t>(ch)].preset == preset && isCalibrated(ch, preset))
            return;
    m_calibration->withdraw(preset);
}

bool SynthEngine::playsPracticePianoLocked(int channel) const
{
    return m_piano && channel != kDrumChannel && m_channels[static_cast<std::size_t>(channel)].preset == PresetId{0, 0};
}

void SynthEngine::fetchCorrectionLocked(int channel)
{
    Channel& c = m_channels[static_cast<std::size_t>(channel)];
    std::shared_ptr<const KeyCents> correction;
    if (m_calibration && m_hasSoundFont && isCalibrated(channel, c.preset) && !playsPracticePianoLocked(channel))
        correction = m_calibration->calibration(c.preset);
    c.correction = correction ? *correction : KeyCents{};
}

void SynthEngine::writeTuningLocked(int channel, bool retuneSounding)
{
    Channel& c = m_channels[static_cast<std::size_t>(channel)];
    // Every key at the correction its sounding note started with, so that a retuning moves
    // each note by the scale tuning's change alone.
    const KeyCents pitches = keyPitches(c.scaleCents, c.applied);
    fluid_synth_activate_key_tuning(m_synth.get(), kTuningBank, channel, kTuningName, pitches.data(),
                                    retuneSounding ? 1 : 0);
    fluid_synth_activate_tuning(m_synth.get(), channel, kTuningBank, channel, retuneSounding ? 1 : 0);
    // The practice piano needs no correction: the scale tuning alone, sounding notes at once.
    if (m_piano)
        m_piano->setKeyPitches(channel, keyPitches(c.scaleCents, KeyCents{}));
}

void SynthEngine::noteOnLocked(int channel, int key, int velocity)
{
    if (playsPracticePianoLocked(channel)) {
        m_piano->noteOn(channel, key, velocity);
        return;
    }
    fluid_synth_t* synth = m_synth.get();
    Channel& c = m_channels[static_cast<std::size_t>(channel)];
    const auto k = static_cast<std::size_t>(key);
    if (c.applied[k] != c.correction[k]) {
        // Without apply: a note of this key still sounding keeps its pitch.
        c.applied[k] = c.correction[k];
        const double pitch = 100.0 * key + c.applied[k] + c.scaleCents[k % 12];
        fluid_synth_tune_notes(synth, kTuningBank, channel, 1, &key, &pitch, 0);
    }
    fluid_synth_noteon(synth, channel, key, velocity);

    // The note's voices carry the largest id among this key's voices on the channel. Those whose
    // instrument leaves the vibrato LFO unused get it for the dither.
    std::fill(m_voices.begin(), m_voices.end(), nullptr);
    fluid_synth_get_voicelist(synth, m_voices.data(), static_cast<int>(m_voices.size()) - 1, -1);
    unsigned newest = 0;
    bool found = false;
    for (fluid_voice_t* v : m_voices) {
        if (!v)
            break;
        if (fluid_voice_get_channel(v) == channel && fluid_voice_get_key(v) == key
            && (!found || fluid_voice_get_id(v) > newest)) {
            newest = fluid_voice_get_id(v);
            found = true;
        }
    }
    bool changed = false;
    for (fluid_voice_t* v : m_voices) {
        if (!v)
            break;
        if (fluid_voice_get_channel(v) != channel || fluid_voice_get_key(v) != key || fluid_voice_get_id(v) != newest
            || fluid_voice_gen_get(v, GEN_VIBLFOTOPITCH) != 0.0f)
            continue;
        fluid_voice_gen_set(v, GEN_VIBLFOFREQ, kDitherLfoCents);
        fluid_voice_update_param(v, GEN_VIBLFOFREQ);
        changed = true;
    }
    // FluidSynth passes voice changes to the renderer when an API call returns.
    if (changed)
        fluid_synth_get_active_voice_count(synth);
}

void SynthEngine::shortMessage(std::uint32_t packed)
{
    const int status = static_cast<int>(packed & 0xFF);
    const int data1 = static_cast<int>((packed >> 8) & 0xFF);
    const int data2 = static_cast<int>((packed >> 16) & 0xFF);
    if (status < 0x80 || status >= 0xF0 || data1 >= 0x80 || data2 >= 0x80)
        return;
    const int channel = status & 0x0F;
    fluid_synth_t* synth = m_synth.get();

    std::lock_guard lock(*m_lock);
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, data1);
        if (m_piano)
            m_piano->noteOff(channel, data1);
        break;
    case 0x90:
        if (data2 == 0) {
            fluid_synth_noteoff(synth, channel, data1);
            if (m_piano)
                m_piano->noteOff(channel, data1);
        } else {
            noteOnLocked(channel, data1, data2);
        }
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, data1, data2);
        break;
    case 0xB0:
        controlChangeLocked(channel, data1, data2);
        break;
    case 0xC0:
        programChangeLocked(channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, data1 | (data2 << 7));
        break;
    default:
        break;
    }
}

void SynthEngine::controlChangeLocked(int channel, int controller, int value)
{
    // FluidSynth itself handles the damper (64), All Sound Off (120), Reset All Controllers (121)
    // and All Notes Off (123) as the MIDI standard has them; the bank is noted for calibration.
    if (controller == kBankSelect)
        m_channels[static_cast<std::size_t>(channel)].bankSelect = value;
    fluid_synth_cc(m_synth.get(), channel, controller, value);
    if (m_piano)
        pianoControlChangeLocked(channel, controller, value);
}

void SynthEngine::pianoControlChangeLocked(int channel, int controller, int value)
{
    // As FluidSynth takes them: the damper from 64 up, and the mode messages (124..127) also
    // release every key.
    if (controller == 64)
        m_piano->sustain(channel, value >= 64);
    else if (controller == 120)
        m_piano->allSoundOff(channel);
    else if (controller == 121)
        m_piano->sustain(channel, false);
    else if (controller >= 123)
        m_piano->allNotesOff(channel);
}

void SynthEngine::programChangeLocked(int channel, int program)
{
    Channel& c = m_channels[static_cast<std::size_t>(channel)];
    fluid_synth_program_change(m_synth.get(), channel, program);
    const PresetId preset{c.bankSelect, program};
    if (preset == c.preset)
        return;
    const PresetId previous = c.preset;
    c.preset = preset;
    fetchCorrectionLocked(channel);
    releasePresetLocked(previous);
}

void SynthEngine::systemExclusive(std::span<const std::uint8_t> message)
{
    const SysexCommand command = parseSysex(message);
    if (std::holds_alternative<SystemReset>(command)) {
        systemReset();
        return;
    }
    if (const auto* change = std::get_if<ScaleTuningChange>(&command)) {
        std::lock_guard lock(*m_lock);
        Channel& c = m_channels[static_cast<std::size_t>(change->channel)];
        for (int i = 0; i < change->count; ++i)
            c.scaleCents[static_cast<std::size_t>(change->firstPitchClass + i)] = change->cents[static_cast<std::size_t>(i)];
        writeTuningLocked(change->channel, true);
    }
}

void SynthEngine::releaseAll()
{
    std::lock_guard lock(*m_lock);
    for (int ch = 0; ch < kChannels; ++ch) {
        fluid_synth_cc(m_synth.get(), ch, 64, 0);
        fluid_synth_all_notes_off(m_synth.get(), ch);
        if (m_piano) {
            m_piano->sustain(ch, false);
            m_piano->allNotesOff(ch);
        }
    }
}

void SynthEngine::systemReset()
{
    std::lock_guard lock(*m_lock);
    fluid_synth_system_reset(m_synth.get());
    resetChannelsLocked();
}

void SynthEngine::render(std::span<float> left, std::span<float> right)
{
    renderFrames(static_cast<int>(std::min(left.size(), right.size())), left.data(), right.data(), 1);
}

void SynthEngine::renderInterleaved(std::span<float> stereo)
{
    renderFrames(static_cast<int>(stereo.size() / 2), stereo.data(), stereo.data() + 1, 2);
}

void SynthEngine::renderFrames(int frames, float* left, float* right, int increment)
{
    // No lock: see the class comment.
    fluid_synth_write_float(m_synth.get(), frames, left, 0, increment, right, 0, increment);
    if (m_piano)
        m_piano->render(frames, left, right, increment);
}

int SynthEngine::renderCallback(void* data, int frames, int, float*[], int outCount, float* out[])
{
    auto* engine = static_cast<SynthEngine*>(data);
    if (outCount < 2 || frames <= 0)
        return FLUID_FAILED;
    const auto n = static_cast<std::size_t>(frames);
    engine->render(std::span(out[0], n), std::span(out[1], n));
    return FLUID_OK;
}

void SynthEngine::calibrationReady(PresetId preset)
{
    std::lock_guard lock(*m_lock);
    for (int ch = 0; ch < kChannels; ++ch)
        if (m_channels[static_cast<std::size_t>(ch)].preset == preset && isCalibrated(ch, preset))
            fetchCorrectionLocked(ch);
}

double SynthEngine::sampleRate() const
{
    double rate = 0.0;
    fluid_settings_getnum(m_settings.get(), "synth.sample-rate", &rate);
    return rate;
}

PresetId SynthEngine::presetOn(int channel) const
{
    std::lock_guard lock(*m_lock);
    return m_channels.at(static_cast<std::size_t>(channel)).preset;
}

std::array<int, 12> SynthEngine::scaleTuning(int channel) const
{
    std::lock_guard lock(*m_lock);
    return m_channels.at(static_cast<std::size_t>(channel)).scaleCents;
}

double SynthEngine::keyPitch(int channel, int key) const
{
    std::lock_guard lock(*m_lock);
    const Channel& c = m_channels.at(static_cast<std::size_t>(channel));
    return keyPitches(c.scaleCents, c.correction).at(static_cast<std::size_t>(key));
}

}  // namespace velmora::midi::synth
