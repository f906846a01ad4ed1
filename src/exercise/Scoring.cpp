#include "exercise/Scoring.h"

#include <charconv>
#include <cstdlib>

namespace velmora::exercise {

std::optional<int> parseFieldValue(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

int computeScore(const std::array<int, kPitchClasses>& user, const std::array<int, kPitchClasses>& exact)
{
    long long miss = 0;
    for (int i = 0; i < kPitchClasses; ++i)
        miss += std::llabs(static_cast<long long>(user[std::size_t(i)]) - exact[std::size_t(i)]);
    return static_cast<int>(100 - miss);
}

std::string fieldText(int value)
{
    return std::to_string(value);
}

RunStep resultRunTick(int note)
{
    RunStep step;
    step.messages.push_back({0x80, static_cast<unsigned char>(note - 1), 0x7F});
    step.messages.push_back({0x90, static_cast<unsigned char>(note), 0x64});
    if (note + 1 == kRunEndNote) {
        step.messages.push_back({0x80, static_cast<unsigned char>(note), 0x7F});
        step.finished = true;
    }
    return step;
}

}  // namespace velmora::exercise
