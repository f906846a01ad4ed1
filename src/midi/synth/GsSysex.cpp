#include "midi/synth/GsSysex.h"

namespace velmora::midi::synth {

namespace {

constexpr std::uint8_t kRoland = 0x41;
constexpr std::uint8_t kDeviceId = 0x10;
constexpr std::uint8_t kGsModel = 0x42;
constexpr std::uint8_t kDataSet1 = 0x12;
constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
constexpr std::uint8_t kAllDevices = 0x7F;
constexpr std::uint8_t kScaleTuningC = 0x40;
constexpr int kPitchClasses = 12;

// A GS data set: F0 41 10 42 12, three address bytes, data, checksum, F7.
SysexCommand parseGsDataSet(std::span<const std::uint8_t> body)
{
    // body runs from the address to the checksum.
    if (body.size() < 5)
        return IgnoredSysex{};
    unsigned sum = 0;
    for (std::uint8_t b : body)
        sum += b;
    if (sum % 128 != 0)
        return IgnoredSysex{};

    const std::uint8_t high = body[0];
    const std::uint8_t mid = body[1];
    const std::uint8_t low = body[2];
    const auto data = body.subspan(3, body.size() - 4);

    if (high == 0x40 && mid == 0x00 && low == 0x7F)
        return data.size() == 1 && data[0] == 0x00 ? SysexCommand{SystemReset{}} : SysexCommand{IgnoredSysex{}};

    if (high == 0x40 && (mid & 0xF0) == 0x10 && low >= kScaleTuningC && low < kScaleTuningC + kPitchClasses) {
        const int first = low - kScaleTuningC;
        // A run past B would write the part's next parameters, which this synthesizer lacks: the
        // whole message is left alone rather than half applied.
        if (data.empty() || first + static_cast<int>(data.size()) > kPitchClasses)
            return IgnoredSysex{};
        ScaleTuningChange change;
        change.channel = channelOfPartBlock(mid & 0x0F);
        change.firstPitchClass = first;
        change.count = static_cast<int>(data.size());
        for (std::size_t i = 0; i < data.size(); ++i)
            change.cents[i] = static_cast<int>(data[i]) - 0x40;
        return change;
    }
    return IgnoredSysex{};
}

}  // namespace

int channelOfPartBlock(int block)
{
    if (block == 0)
        return 9;
    if (block <= 9)
        return block - 1;
    return block;
}

SysexCommand parseSysex(std::span<const std::uint8_t> message)
{
    if (message.size() < 4 || message.front() != 0xF0 || message.back() != 0xF7)
        return IgnoredSysex{};
    const auto inner = message.subspan(1, message.size() - 2);
    for (std::uint8_t b : inner)
        if (b >= 0x80)
            return IgnoredSysex{};

    if (inner.size() == 4 && inner[0] == kUniversalNonRealTime
        && (inner[1] == kAllDevices || inner[1] == kDeviceId) && inner[2] == 0x09 && inner[3] == 0x01)
        return SystemReset{};

    if (inner.size() >= 4 && inner[0] == kRoland && inner[1] == kDeviceId && inner[2] == kGsModel
        && inner[3] == kDataSet1)
        return parseGsDataSet(inner.subspan(4));
    return IgnoredSysex{};
}

}  // namespace velmora::midi::synth
