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
// FluidSynth renders in blocks of this many frames and reads voice parameters once per block.
constexpr int kBlockFrames = 64;
// The golden-ratio sequence spreads the dither evenly over [0, 1) for any number of blocks.
constexpr double kDitherStep = 0.6180339887498949;

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
    return std::unique_ptr<SynthEngine>(new SynthEngine(std::move(settings), std::move(synth), calibration));
}

SynthEngine::SynthEngine(FluidSettingsPtr settings, FluidSynthPtr synth, CalibrationProvider* calibration)
    : m_settings(std::move(settings)), m_synth(std::move(synth)), m_calibration(calibration)
{
}

SynthEngine::~SynthEngine() = default;

bool SynthEngine::loadSoundFont(const std::filesystem::path& file)
{
    std::lock_guard lock(m_mutex);
    if (fluid_synth_sfload(m_synth.get(), file.string().c_str(), 1) == FLUID_FAILED)
        return false;
    m_hasSoundFont = true;
    resetChannelsLocked();
    return true;
}

void SynthEngine::resetChannelsLocked()
{
    for (int ch = 0; ch < kChannels; ++ch) {
        m_channels[static_cast<std::size_t>(ch)] = Channel{};
        applyTuningLocked(ch);
    }
}

void SynthEngine::applyTuningLocked(int channel)
{
    Channel& c = m_channels[static_cast<std::size_t>(channel)];
    std::shared_ptr<const KeyCents> correction;
    if (m_calibration && m_hasSoundFont && isCalibrated(channel, c.preset))
        correction = m_calibration->calibration(c.preset);
    c.pitches = keyPitches(c.scaleCents, correction ? *correction : KeyCents{});
    // Both with apply on, so that notes already sounding move to the new pitch at once.
    fluid_synth_activate_key_tuning(m_synth.get(), kTuningBank, channel, kTuningName, c.pitches.data(), 1);
    fluid_synth_activate_tuning(m_synth.get(), channel, kTuningBank, channel, 1);
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

    std::lock_guard lock(m_mutex);
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(synth, channel, data1);
        else
            fluid_synth_noteon(synth, channel, data1, data2);
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
}

void SynthEngine::programChangeLocked(int channel, int program)
{
    Channel& c = m_channels[static_cast<std::size_t>(channel)];
    fluid_synth_program_change(m_synth.get(), channel, program);
    const PresetId preset{c.bankSelect, program};
    if (preset == c.preset)
        return;
    c.preset = preset;
    applyTuningLocked(channel);
}

void SynthEngine::systemExclusive(std::span<const std::uint8_t> message)
{
    const SysexCommand command = parseSysex(message);
    if (std::holds_alternative<SystemReset>(command)) {
        systemReset();
        return;
    }
    if (const auto* change = std::get_if<ScaleTuningChange>(&command)) {
        std::lock_guard lock(m_mutex);
        Channel& c = m_channels[static_cast<std::size_t>(change->channel)];
        for (int i = 0; i < change->count; ++i)
            c.scaleCents[static_cast<std::size_t>(change->firstPitchClass + i)] = change->cents[static_cast<std::size_t>(i)];
        applyTuningLocked(change->channel);
    }
}

void SynthEngine::releaseAll()
{
    std::lock_guard lock(m_mutex);
    for (int ch = 0; ch < kChannels; ++ch) {
        fluid_synth_cc(m_synth.get(), ch, 64, 0);
        fluid_synth_all_notes_off(m_synth.get(), ch);
    }
}

void SynthEngine::systemReset()
{
    std::lock_guard lock(m_mutex);
    fluid_synth_system_reset(m_synth.get());
    resetChannelsLocked();
}

void SynthEngine::advanceDither()
{
    m_dither += kDitherStep;
    if (m_dither >= 1.0)
        m_dither -= 1.0;
    for (int ch = 0; ch < kChannels; ++ch)
        fluid_synth_set_gen(m_synth.get(), ch, GEN_FINETUNE, static_cast<float>(m_dither));
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
    // Blocks are kept aligned with FluidSynth's own so that each carries one dither value.
    int done = 0;
    while (done < frames) {
        int chunk = std::min(kBlockFrames - m_blockOffset, frames - done);
        if (m_blockOffset == 0) {
            // Only when no other thread of ours is inside FluidSynth: then the fine-tune calls
            // cannot wait for its lock, which a program change may hold while it reads samples.
            // A skipped block keeps the previous dither value.
            std::unique_lock lock(m_mutex, std::try_to_lock);
            if (lock)
                advanceDither();
        }
        const std::size_t at = static_cast<std::size_t>(done) * static_cast<std::size_t>(increment);
        fluid_synth_write_float(m_synth.get(), chunk, left + at, 0, increment, right + at, 0, increment);
        m_blockOffset = (m_blockOffset + chunk) % kBlockFrames;
        done += chunk;
    }
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
    std::lock_guard lock(m_mutex);
    for (int ch = 0; ch < kChannels; ++ch)
        if (m_channels[static_cast<std::size_t>(ch)].preset == preset && isCalibrated(ch, preset))
            applyTuningLocked(ch);
}

double SynthEngine::sampleRate() const
{
    double rate = 0.0;
    fluid_settings_getnum(m_settings.get(), "synth.sample-rate", &rate);
    return rate;
}

PresetId SynthEngine::presetOn(int channel) const
{
    std::lock_guard lock(m_mutex);
    return m_channels.at(static_cast<std::size_t>(channel)).preset;
}

std::array<int, 12> SynthEngine::scaleTuning(int channel) const
{
    std::lock_guard lock(m_mutex);
    return m_channels.at(static_cast<std::size_t>(channel)).scaleCents;
}

double SynthEngine::keyPitch(int channel, int key) const
{
    std::lock_guard lock(m_mutex);
    return m_channels.at(static_cast<std::size_t>(channel)).pitches.at(static_cast<std::size_t>(key));
}

}  // namespace velmora::midi::synth
