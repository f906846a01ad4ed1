#include "midi/synth/PitchCalibrator.h"

#include "midi/MidiOutput.h"
#include "midi/synth/PitchEstimator.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmora::midi::synth {

namespace {

// A deviation beyond this is a measurement gone wrong rather than a sample out of tune.
constexpr double kPlausibleDeviationCents = 100.0;
constexpr std::uint8_t kAllSoundOff = 120;
constexpr std::size_t kFlushFrames = 64;
constexpr double kUnknownDrift = 1e9;

}  // namespace

std::optional<KeyPitch> measureKey(SynthEngine& engine, int channel, int key, const KeyMeasurement& how)
{
    const double rate = engine.sampleRate();
    const auto settle = static_cast<std::size_t>(how.settleSeconds * rate);
    const auto measured = static_cast<std::size_t>(how.measureSeconds * rate);
    const auto status = static_cast<std::uint8_t>(channel);

    engine.shortMessage(packShortMessage(0x90 | status, static_cast<std::uint8_t>(key),
                                         static_cast<std::uint8_t>(how.velocity)));
    std::vector<float> left(std::max({settle, measured, kFlushFrames}));
    std::vector<float> right(left.size());
    engine.render(std::span(left).first(settle), std::span(right).first(settle));
    engine.render(std::span(left).first(measured), std::span(right).first(measured));
    engine.shortMessage(packShortMessage(0xB0 | status, kAllSoundOff, 0));
    std::vector<float> mono(measured);
    for (std::size_t i = 0; i < measured; ++i)
        mono[i] = 0.5f * (left[i] + right[i]);
    // The silenced voice still plays out the block in which it is stopped; rendering that block
    // here keeps it out of the next key's measurement.
    engine.render(std::span(left).first(kFlushFrames), std::span(right).first(kFlushFrames));

    const double expected = equalTemperedHz(key);
    const auto whole = estimatePitchNear(mono, rate, expected);
    if (!whole)
        return std::nullopt;
    const std::span<const float> all(mono);
    const auto early = estimatePitchNear(all.first(measured / 2), rate, whole->hz);
    const auto late = estimatePitchNear(all.last(measured / 2), rate, whole->hz);
    const double drift = early && late ? std::abs(centsBetween(early->hz, late->hz)) : kUnknownDrift;
    return KeyPitch{whole->hz, drift, whole->clarity};
}

std::optional<double> measureKeyHz(SynthEngine& engine, int channel, int key, const KeyMeasurement& how)
{
    const auto pitch = measureKey(engine, channel, key, how);
    if (!pitch)
        return std::nullopt;
    return pitch->hz;
}

std::unique_ptr<ProgramCalibrator> ProgramCalibrator::create(const std::filesystem::path& soundFont,
                                                             double sampleRate, CalibrationRange range,
                                                             KeyMeasurement how,
                                                             std::shared_ptr<std::mutex> fluidLock)
{
    SynthEngineConfig config;
    config.fluidLock = std::move(fluidLock);
    config.sampleRate = sampleRate;
    config.polyphony = 16;
    // Only the presets measured are read from the file; nothing needs pinning for offline work.
    config.dynamicSampleLoading = true;
    config.lockSampleMemory = false;
    auto engine = SynthEngine::create(config);
    if (!engine || !engine->loadSoundFont(soundFont))
        return nullptr;
    return std::unique_ptr<ProgramCalibrator>(new ProgramCalibrator(std::move(engine), range, how));
}

ProgramCalibrator::ProgramCalibrator(std::unique_ptr<SynthEngine> engine, CalibrationRange range, KeyMeasurement how)
    : m_engine(std::move(engine)), m_range(range), m_how(how)
{
}

ProgramCalibrator::~ProgramCalibrator() = default;

std::array<std::optional<double>, kKeys> ProgramCalibrator::deviations(PresetId preset, const std::atomic<bool>* stop)
{
    constexpr int channel = 0;
    m_engine->shortMessage(packShortMessage(0xB0, 0, static_cast<std::uint8_t>(preset.bank)));
    m_engine->shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>(preset.program)));

    std::array<std::optional<double>, kKeys> result{};
    for (int key = std::max(0, m_range.firstKey); key <= std::min(kKeys - 1, m_range.lastKey); ++key) {
        if (stop && stop->load())
            break;
        const auto pitch = measureKey(*m_engine, channel, key, m_how);
        if (!pitch)
            continue;
        double cents = centsBetween(equalTemperedHz(key), pitch->hz);
        // Whichever partial was followed, its ratio to the nominal pitch is the sample's.
        cents -= 1200.0 * std::round(cents / 1200.0);
        if (std::abs(cents) <= kPlausibleDeviationCents)
            result[static_cast<std::size_t>(key)] = cents;
    }
    return result;
}

KeyCents correctionFor(const std::array<std::optional<double>, kKeys>& deviations)
{
    KeyCents result{};
    for (std::size_t key = 0; key < deviations.size(); ++key)
        if (deviations[key])
            result[key] = -*deviations[key];
    return result;
}

KeyCents ProgramCalibrator::correction(PresetId preset, const std::atomic<bool>* stop)
{
    return correctionFor(deviations(preset, stop));
}

}  // namespace velmora::midi::synth
