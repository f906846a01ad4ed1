// Start-up cost of the built-in synthesizer per SoundFont: making FluidSynth, loading the font,
// and measuring program 0 on the private calibration instance; with the resident memory after
// each step. Every configuration runs in a fresh child process so that the memory figures are
// its own.
//
//   synth_startup [SOUNDFONT ...]     (default: the General MIDI fonts found)

#include "midi/synth/PitchCalibrator.h"
#include "midi/synth/SoundFontLocator.h"
#include "midi/synth/SynthEngine.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace velmora::midi::synth;

namespace {

// Kilobytes of a /proc/self/status field (VmRSS, VmHWM).
long statusKb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::stol(line.substr(field.size() + 1));
    return -1;
}

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void measure(const std::string& font, bool dynamicLoading)
{
    const long baseKb = statusKb("VmRSS");
    auto start = std::chrono::steady_clock::now();
    SynthEngineConfig config;
    config.dynamicSampleLoading = dynamicLoading;
    config.lockSampleMemory = false;
    auto engine = SynthEngine::create(config);
    const double createMs = msSince(start);

    start = std::chrono::steady_clock::now();
    const bool loaded = engine && engine->loadSoundFont(font);
    const double loadMs = msSince(start);
    const long loadedKb = statusKb("VmRSS");

    start = std::chrono::steady_clock::now();
    auto calibrator = ProgramCalibrator::create(font, config.sampleRate);
    const double calibratorMs = msSince(start);
    start = std::chrono::steady_clock::now();
    const KeyCents correction = calibrator ? calibrator->correction({0, 0}) : KeyCents{};
    const double program0Ms = msSince(start);
    const long calibratedKb = statusKb("VmRSS");

    std::string name = font.substr(font.find_last_of('/') + 1);
    std::printf("%-16s %-8s %7.1f %8.1f %11.1f %10.1f %9.1f %10ld %10ld %9ld%s\n", name.c_str(),
                dynamicLoading ? "dynamic" : "all", createMs, loadMs, calibratorMs, program0Ms,
                createMs + loadMs + calibratorMs + program0Ms, (loadedKb - baseKb) / 1024,
                (calibratedKb - baseKb) / 1024, statusKb("VmHWM") / 1024, loaded ? "" : "  (load failed)");
    (void)correction;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> fonts(argv + 1, argv + argc);
    if (fonts.empty()) {
        for (const char* name : {"TimGM6mb.sf2", "FluidR3_GM.sf2"})
            for (const auto& folder : standardSoundFontFolders())
                if (std::ifstream(folder / name).good()) {
                    fonts.push_back((folder / name).string());
                    break;
                }
    }
    std::printf("%-16s %-8s %7s %8s %11s %10s %9s %10s %10s %9s\n", "SoundFont", "samples", "make ms", "load ms",
                "calib. inst", "program 0", "total ms", "RSS+ load", "RSS+ calib", "peak MB");
    std::printf("%-16s %-8s %7s %8s %11s %10s %9s %10s %10s %9s\n", "", "", "", "", "make ms", "ms", "", "MB", "MB", "");
    for (const std::string& font : fonts) {
        for (bool dynamicLoading : {false, true}) {
            std::fflush(stdout);
            const pid_t child = fork();
            if (child == 0) {
                measure(font, dynamicLoading);
                std::fflush(stdout);
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
        }
    }
    return 0;
}
