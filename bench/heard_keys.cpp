// Reads a recording of the program played by hand (bench/program_heard.sh: mono float32 at
// 48 kHz, notes with silence between them) and measures each note in 100 ms windows 50 ms apart
// from 0.05 s after its first sound to the end of its hold: cents from 12-TET (A4 = 440 Hz).
// The exercise's tuning is not known here; its offsets are whole cents, so what a true
// instrument shows is each note steady within the note, at a whole number of cents, the same
// in both octaves of a pitch class, and the reference A at 0.
//
//   heard_keys FILE HOLD_SECONDS KEY...     (the keys in the order they were played; -69 for the
//                                            reference A, which no tuning touches)

#include "PianoMeasures.h"
#include "midi/synth/PitchEstimator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

using namespace velmora::midi::synth;

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: heard_keys FILE HOLD_SECONDS KEY...\n");
        return 2;
    }
    constexpr double kRate = 48000.0;
    std::vector<float> x;
    if (FILE* f = std::fopen(argv[1], "rb")) {
        float buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, sizeof(float), 4096, f)) > 0)
            x.insert(x.end(), buffer, buffer + n);
        std::fclose(f);
    }
    const double hold = std::atof(argv[2]);
    std::vector<int> keys;
    for (int i = 3; i < argc; ++i)
        keys.push_back(std::atoi(argv[i]));

    // A note begins where the 2 ms level rises above -50 dBFS within 20 ms of the end of at least
    // 0.1 s below -70 dBFS, and not before the previous note's hold is over: a dropout of the
    // loaded server inside a note is not a new note.
    const auto block = static_cast<std::size_t>(0.002 * kRate);
    std::vector<std::size_t> onsets;
    std::size_t quiet = 0;
    std::size_t lastQuietRun = 0;
    std::size_t quietEnded = 0;
    bool counted = true;
    for (std::size_t at = 0; at + block <= x.size(); at += block) {
        double sum = 0.0;
        for (std::size_t i = at; i < at + block; ++i)
            sum += static_cast<double>(x[i]) * x[i];
        const double db = 10.0 * std::log10(std::max(sum / static_cast<double>(block), 1e-30));
        if (db < -70.0) {
            quiet += block;
            continue;
        }
        if (quiet > 0) {
            lastQuietRun = quiet;
            quietEnded = at;
            counted = false;
            quiet = 0;
        }
        const bool holdOver = onsets.empty() || at > onsets.back() + static_cast<std::size_t>((hold + 0.3) * kRate);
        if (db > -50.0 && !counted && holdOver && lastQuietRun >= static_cast<std::size_t>(0.1 * kRate)
            && at - quietEnded <= static_cast<std::size_t>(0.02 * kRate)) {
            std::size_t first = quietEnded;
            while (first < at + block && std::abs(x[first]) < 1e-4f)
                ++first;
            onsets.push_back(first);
            counted = true;
        }
    }
    std::printf("%zu notes found, %zu keys played\n", onsets.size(), keys.size());
    if (onsets.size() != keys.size())
        return 1;

    const auto width = static_cast<std::size_t>(0.1 * kRate);
    std::map<int, std::vector<double>> byPitchClass;
    double worstSpread = 0.0;
    int leftOut = 0;
    double worstFraction = 0.0;
    std::printf("key  median  lowest  highest  windows  (cents from 12-TET)\n");
    for (std::size_t n = 0; n < keys.size(); ++n) {
        const bool reference = keys[n] < 0;
        const int key = std::abs(keys[n]);
        const double nominal = equalTemperedHz(key);
        std::vector<double> cents;
        for (double from = 0.05; from + 0.1 <= hold - 0.02; from += 0.05) {
            const std::size_t at = onsets[n] + static_cast<std::size_t>(from * kRate);
            if (at + width > x.size())
                break;
            // A window with a dropout in it (4 or more samples of silence) is left out.
            std::size_t run = 0;
            std::size_t longest = 0;
            for (std::size_t i = at; i < at + width; ++i) {
                run = std::abs(x[i]) < 1e-7f ? run + 1 : 0;
                longest = std::max(longest, run);
            }
            if (longest >= 4) {
                ++leftOut;
                continue;
            }
            const auto hz = velmora::bench::windowHz(std::span<const float>(x).subspan(at, width), kRate, nominal);
            if (hz)
                cents.push_back(centsBetween(nominal, *hz));
        }
        if (cents.empty()) {
            std::printf("%3d  no pitch\n", key);
            continue;
        }
        std::sort(cents.begin(), cents.end());
        const double median = cents[cents.size() / 2];
        std::printf("%3d%s  %+8.3f  %+8.3f  %+8.3f  %zu\n", key, reference ? " (reference A)" : "", median, cents.front(),
                    cents.back(), cents.size());
        worstSpread = std::max(worstSpread, cents.back() - cents.front());
        for (double c : cents)
            worstFraction = std::max(worstFraction, std::abs(c - std::round(median)));
        if (!reference)
            byPitchClass[key % 12].push_back(median);
    }
    double octaveGap = 0.0;
    for (const auto& [pc, medians] : byPitchClass)
        if (medians.size() > 1)
            octaveGap = std::max(octaveGap, *std::max_element(medians.begin(), medians.end())
                                                - *std::min_element(medians.begin(), medians.end()));
    std::printf("largest spread within a note %.4f cents; largest distance of a window from its note's whole cent "
                "%.4f; largest gap between the octaves of a pitch class %.4f; %d windows left out (a dropout)\n",
                worstSpread, worstFraction, octaveGap, leftOut);
    return 0;
}
