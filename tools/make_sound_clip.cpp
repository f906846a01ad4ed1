// Writes the version label's sound clip: a soft, piano-like A major arpeggio that rings out and
// decays, as a 16-bit mono PCM RIFF WAVE of exactly four seconds at 22 050 Hz.
//
// Usage: make_sound_clip [resources-folder]   (writes <folder>/clip100.wav)

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kSampleRate = 22050;
constexpr int kSampleCount = 88200;  // 4.0 s
constexpr int kChannels = 1;
constexpr int kBitsPerSample = 16;
constexpr int kBlockAlign = kChannels * kBitsPerSample / 8;
constexpr int kDataBytes = kSampleCount * kBlockAlign;

// The sound lives between 0.5 s and 3.5 s; the rest stays silent.
constexpr double kSoundStart = 0.5;
constexpr double kSoundEnd = 3.5;
constexpr double kFadeOut = 0.6;  // the last part of the sound fades smoothly to nothing

struct Note {
    double start;     // seconds from the start of the clip
    double midiNote;  // 69 = A4
    double velocity;  // relative loudness
};

// A3 and A4 together, then C#5, E5 and A5 rolling upwards, and the top A once more, softly.
constexpr std::array<Note, 6> kArpeggio{{
    {0.50, 57.0, 0.55},
    {0.50, 69.0, 0.80},
    {0.78, 73.0, 0.70},
    {1.06, 76.0, 0.65},
    {1.34, 81.0, 0.60},
    {2.10, 81.0, 0.30},
}};

double frequencyOf(double midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69.0) / 12.0); }

// A struck string: a few slightly stretched partials, the higher ones quieter and dying sooner.
void addPianoNote(std::vector<double>& signal, const Note& note)
{
    const double fundamental = frequencyOf(note.midiNote);
    constexpr double kInharmonicity = 0.0003;
    constexpr double kAttack = 0.006;
    const auto first = static_cast<std::size_t>(note.start * kSampleRate);
    for (int partial = 1; partial <= 8; ++partial) {
        const double frequency = fundamental * partial * std::sqrt(1.0 + kInharmonicity * partial * partial);
        if (frequency > kSampleRate * 0.45)
            break;
        const double amplitude = note.velocity / std::pow(partial, 1.6);
        // Higher notes and higher partials fade faster, as on a real instrument.
        const double decay = 0.55 + 0.35 * partial + fundamental / 1400.0;
        for (std::size_t i = first; i < signal.size(); ++i) {
            const double t = static_cast<double>(i - first) / kSampleRate;
            const double attack = std::min(1.0, t / kAttack);
            signal[i] += amplitude * attack * std::exp(-decay * t) *
                         std::sin(2.0 * std::numbers::pi * frequency * t + 0.3 * partial);
        }
    }
}

std::vector<std::int16_t> renderClip()
{
    std::vector<double> signal(kSampleCount, 0.0);
    for (const Note& note : kArpeggio)
        addPianoNote(signal, note);

    const auto fadeBegin = static_cast<std::size_t>((kSoundEnd - kFadeOut) * kSampleRate);
    const auto end = static_cast<std::size_t>(kSoundEnd * kSampleRate);
    for (std::size_t i = fadeBegin; i < signal.size(); ++i) {
        const double remaining = i >= end ? 0.0 : static_cast<double>(end - i) / static_cast<double>(end - fadeBegin);
        signal[i] *= 0.5 - 0.5 * std::cos(std::numbers::pi * remaining);
    }

    double peak = 0.0;
    for (double s : signal)
        peak = std::max(peak, std::abs(s));
    // Well below full scale: a pleasant, quiet chime with no chance of clipping.
    const double gain = peak > 0.0 ? 0.55 * 32767.0 / peak : 0.0;

    std::vector<std::int16_t> samples(signal.size());
    for (std::size_t i = 0; i < signal.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(signal[i] * gain));
    return samples;
}

void putU16(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}

void putTag(std::vector<std::uint8_t>& out, const char (&tag)[5])
{
    out.insert(out.end(), tag, tag + 4);
}

std::vector<std::uint8_t> waveFile(const std::vector<std::int16_t>& samples)
{
    std::vector<std::uint8_t> out;
    out.reserve(44 + kDataBytes);
    putTag(out, "RIFF");
    putU32(out, 36 + kDataBytes);
    putTag(out, "WAVE");
    putTag(out, "fmt ");
    putU32(out, 16);
    putU16(out, 1);  // PCM
    putU16(out, kChannels);
    putU32(out, kSampleRate);
    putU32(out, kSampleRate * kBlockAlign);
    putU16(out, kBlockAlign);
    putU16(out, kBitsPerSample);
    putTag(out, "data");
    putU32(out, kDataBytes);
    for (std::int16_t s : samples)
        putU16(out, static_cast<std::uint16_t>(s));
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string folder = argc > 1 ? argv[1] : "resources";
    const std::string path = folder + "/clip100.wav";
    const std::vector<std::uint8_t> bytes = waveFile(renderClip());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return 1;
    }
    std::printf("%s: %zu bytes\n", path.c_str(), bytes.size());
    return 0;
}
