// Latency and CPU cost of the built-in synthesizer, rendered offline on the engine the device
// plays through (the audio driver's callback calls the same render).
//
//   synth_latency [--benchmark_filter=...]
//
// Before the benchmarks it tries the real audio path and prints the format it runs at.

#include "midi/MidiOutput.h"
#include "midi/synth/AudioOutput.h"
#include "midi/synth/BuiltinSynthOutput.h"
#include "midi/synth/SoundFontLocator.h"
#include "midi/synth/SynthEngine.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;

namespace {

constexpr int kBlock = 64;
// Quieter than this is silence: -80 dB below full scale.
constexpr float kSilence = 1e-4f;
constexpr std::array<int, 10> kTenNotes{48, 52, 55, 60, 64, 67, 69, 72, 76, 79};

std::unique_ptr<SynthEngine> makeEngine()
{
    const auto font = findGeneralMidiSoundFont();
    auto engine = SynthEngine::create(SynthEngineConfig{});
    if (!font || !engine || !engine->loadSoundFont(*font))
        return nullptr;
    return engine;
}

void silence(SynthEngine& engine)
{
    engine.shortMessage(packShortMessage(0xB0, 120, 0));
    std::vector<float> l(kBlock), r(kBlock);
    engine.render(l, r);
}

// From a note-on call to the first sample above silence leaving the synthesizer, in frames of
// rendered audio; the wall time of the call and of rendering up to that sample is the
// processing part.
void NoteOnToFirstSound(benchmark::State& state)
{
    auto engine = makeEngine();
    if (!engine) {
        state.SkipWithError("no SoundFont");
        return;
    }
    const AudioConfig audio;
    std::vector<float> l(kBlock), r(kBlock);
    double frames = 0;
    for (auto _ : state) {
        engine->shortMessage(packShortMessage(0x90, 60, 100));
        int rendered = 0;
        bool heard = false;
        while (!heard && rendered < 48000) {
            engine->render(l, r);
            for (int i = 0; i < kBlock && !heard; ++i)
                if (std::fabs(l[static_cast<std::size_t>(i)]) > kSilence || std::fabs(r[static_cast<std::size_t>(i)]) > kSilence) {
                    frames = rendered + i;
                    heard = true;
                }
            rendered += kBlock;
        }
        state.PauseTiming();
        silence(*engine);
        state.ResumeTiming();
    }
    const double rate = engine->sampleRate();
    state.counters["first_sound_ms"] = 1000.0 * frames / rate;
    state.counters["period_ms"] = 1000.0 * audio.periodSize / rate;
    state.counters["buffered_ms"] = AudioFormat{"", rate, audio.periodSize, audio.periods}.bufferMilliseconds();
}
BENCHMARK(NoteOnToFirstSound)->Unit(benchmark::kMicrosecond);

// One audio period of the configured size with ten notes held: the processing time inside the
// driver's callback.
void RenderOnePeriodTenNotes(benchmark::State& state)
{
    auto engine = makeEngine();
    if (!engine) {
        state.SkipWithError("no SoundFont");
        return;
    }
    const AudioConfig audio;
    engine->shortMessage(packShortMessage(0xB0, 64, 127));
    for (int key : kTenNotes)
        engine->shortMessage(packShortMessage(0x90, static_cast<std::uint8_t>(key), 100));
    std::vector<float> l(static_cast<std::size_t>(audio.periodSize)), r(l.size());
    for (auto _ : state) {
        engine->render(l, r);
        benchmark::DoNotOptimize(l.data());
    }
}
BENCHMARK(RenderOnePeriodTenNotes)->Unit(benchmark::kMicrosecond);

// A second of audio per iteration with ten piano notes struck anew and held by the pedal: the
// CPU time shown is the CPU time per second of audio. Without the dither, for comparison,
// FluidSynth alone.
void SecondOfAudioTenNotes(benchmark::State& state)
{
    auto engine = makeEngine();
    if (!engine) {
        state.SkipWithError("no SoundFont");
        return;
    }
    const bool dither = state.range(0) != 0;
    engine->shortMessage(packShortMessage(0xB0, 64, 127));
    const auto frames = static_cast<std::size_t>(engine->sampleRate());
    std::vector<float> l(frames), r(frames);
    double voices = 0;
    for (auto _ : state) {
        state.PauseTiming();
        silence(*engine);
        for (int key : kTenNotes)
            engine->shortMessage(packShortMessage(0x90, static_cast<std::uint8_t>(key), 100));
        state.ResumeTiming();
        if (dither)
            engine->render(l, r);
        else
            fluid_synth_write_float(engine->fluidSynth(), static_cast<int>(frames), l.data(), 0, 1, r.data(), 0, 1);
        benchmark::DoNotOptimize(l.data());
        voices = fluid_synth_get_active_voice_count(engine->fluidSynth());
    }
    state.counters["voices_at_end"] = voices;
}
BENCHMARK(SecondOfAudioTenNotes)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

void reportAudioPath()
{
    FluidLog log;
    BuiltinSynthOptions options;
    options.soundFontFolders = standardSoundFontFolders();
    options.calibrate = false;
    const AudioConfig config;
    BuiltinSynthOutput device(options, makeFluidAudioBackend(config, log));
    Handle handle = kNoHandle;
    const auto start = std::chrono::steady_clock::now();
    const std::uint32_t result = device.open(0, handle);
    const double openMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("configured audio path: %d frames x %d periods at %.0f Hz = %.2f ms buffered\n", config.periodSize,
                config.periods, config.sampleRate,
                AudioFormat{"", config.sampleRate, config.periodSize, config.periods}.bufferMilliseconds());
    if (result == mmresult::NoError) {
        const AudioFormat format = *device.audioFormat();
        std::printf("opened: driver %s at %.0f Hz, %d x %d frames = %.2f ms buffered (open took %.0f ms)\n",
                    format.driver.c_str(), format.sampleRate, format.periodSize, format.periods,
                    format.bufferMilliseconds(), openMs);
        device.close(handle);
    } else {
        std::printf("no audio output could be opened here (result %u after %.0f ms)\n", result, openMs);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    reportAudioPath();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
