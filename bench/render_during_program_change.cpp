// How long the audio callback takes while the user browses instruments: one thread renders the
// live engine as the sound server asks for it (10 ms of audio every 10 ms), another holds a chord,
// changes the program, plays again and so on through all 128 programs. Prints the render times'
// median, percentiles and maximum, for the callbacks during the browsing: as wall time, and as
// the render thread's own CPU time, which a busy machine's preemption does not inflate. Also
// counts, from FluidSynth's debug log, the samples unloaded on each thread: an unload takes the
// sample cache's process-wide lock, logs and frees.
//
// --practice: program 0 is the practice piano, as the device plays it unless the settings ask for
// the recorded piano.
//
//   render_during_program_change [--soundfont FILE] [--rounds N] [--gap-ms N] [--practice]

#include "midi/MidiOutput.h"
#include "BenchSoundFont.h"
#include "midi/synth/SynthEngine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

using namespace velmora::midi;
using namespace velmora::midi::synth;
using Clock = std::chrono::steady_clock;

namespace {

double threadCpuMicros()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e6 * static_cast<double>(t.tv_sec) + 1e-3 * static_cast<double>(t.tv_nsec);
}

struct UnloadCount {
    std::thread::id renderer;
    std::atomic<int> onRenderer{0};
    std::atomic<int> elsewhere{0};
};

void onDebugMessage(int, const char* message, void* data)
{
    auto* count = static_cast<UnloadCount*>(data);
    if (std::strncmp(message, "Unloading sample", 16) != 0)
        return;
    if (std::this_thread::get_id() == count->renderer)
        count->onRenderer.fetch_add(1);
    else
        count->elsewhere.fetch_add(1);
}

void report(const char* what, std::vector<double> sorted)
{
    std::sort(sorted.begin(), sorted.end());
    auto at = [&](double share) {
        return sorted[std::min(sorted.size() - 1, static_cast<std::size_t>(share * static_cast<double>(sorted.size())))];
    };
    int over = 0;
    for (double us : sorted)
        over += us > 1000.0 ? 1 : 0;
    std::printf("%-10s median %5.0f  p99 %6.0f  p99.9 %6.0f  max %6.0f us;  %d over 1 ms\n", what, at(0.5), at(0.99),
                at(0.999), sorted.back(), over);
}

}  // namespace

int main(int argc, char** argv)
{
    std::string font;
    int rounds = 1;
    int gapMs = 40;
    SynthEngineConfig config;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--practice"))
            config.practicePiano = true;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--practice")) {
            --i;
            continue;
        }
        if (!std::strcmp(argv[i], "--soundfont"))
            font = argv[i + 1];
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--gap-ms"))
            gapMs = std::atoi(argv[i + 1]);
    }
    if (const auto chosen = velmora::bench::soundFontToPlay(font))
        font = *chosen;
    else
        return 1;
    // The live engine as the device makes it.
    auto engine = SynthEngine::create(config);
    if (!engine || !engine->loadSoundFont(font)) {
        std::fprintf(stderr, "cannot load %s\n", font.c_str());
        return 1;
    }

    UnloadCount unloads;
    fluid_set_log_function(FLUID_DBG, onDebugMessage, &unloads);

    constexpr int kFrames = 480;  // 10 ms at 48 kHz, what the stream asks for
    std::atomic<bool> done{false};
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    micros.reserve(100000);
    cpuMicros.reserve(100000);
    std::atomic<bool> started{false};
    std::thread renderer([&] {
        unloads.renderer = std::this_thread::get_id();
        started.store(true);
        std::vector<float> stereo(2 * kFrames);
        auto next = Clock::now();
        while (!done.load()) {
            const auto start = Clock::now();
            const double cpuStart = threadCpuMicros();
            engine->renderInterleaved(stereo);
            cpuMicros.push_back(threadCpuMicros() - cpuStart);
            micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
            next += std::chrono::microseconds(1000000 * kFrames / 48000);
            std::this_thread::sleep_until(next);
        }
    });

    while (!started.load())
        std::this_thread::yield();
    const std::uint8_t chord[] = {60, 64, 67, 69};
    for (int round = 0; round < rounds; ++round) {
        for (int program = 0; program < 128; ++program) {
            for (std::uint8_t key : chord)
                engine->shortMessage(packShortMessage(0x90, key, 100));
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
            // The chord still sounds when the next instrument is chosen, as when the user picks
            // one in the instrument window with a key held.
            engine->shortMessage(packShortMessage(0xC0, static_cast<std::uint8_t>((program + 1) % 128)));
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs / 2));
            for (std::uint8_t key : chord)
                engine->shortMessage(packShortMessage(0x80, key, 0));
            std::this_thread::sleep_for(std::chrono::milliseconds(gapMs / 2));
        }
    }
    done.store(true);
    renderer.join();

    std::printf("%zu callbacks of %d frames during %d program changes\n", micros.size(), kFrames, 128 * rounds);
    report("wall", micros);
    report("thread CPU", cpuMicros);
    std::printf("samples unloaded on the render thread: %d, on the sending thread: %d\n", unloads.onRenderer.load(),
                unloads.elsewhere.load());
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    return 0;
}
