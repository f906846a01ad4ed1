#include "editions/AccessibleText.h"

#include "editions/Catalogue.h"

#include <cstdlib>

namespace velmora {
namespace {

// Replaces the first "%n" of `pattern` with `value`.
std::string fill(std::string pattern, std::string_view marker, const std::string& value)
{
    const auto at = pattern.find(marker);
    if (at != std::string::npos)
        pattern.replace(at, marker.size(), value);
    return pattern;
}

}  // namespace

std::string centsText(Edition edition, int cents)
{
    const std::string number = (cents > 0 ? "+" : "") + std::to_string(cents);
    const TextKey key = std::abs(cents) == 1 ? TextKey::A11yCentsOne : TextKey::A11yCents;
    return fill(std::string(text(edition, key)), "%1", number);
}

std::string noteName(int note)
{
    const int pitchClass = ((note % 12) + 12) % 12;
    const int octave = note / 12 - 1;
    return std::string(pitchClassLabel(pitchClass)) + std::to_string(octave);
}

std::string resultsRowText(Edition edition, int pitchClass, int user, int exact)
{
    std::string row(text(edition, TextKey::A11yResultsRow));
    row = fill(row, "%1", std::string(pitchClassLabel(pitchClass)));
    row = fill(row, "%2", centsText(edition, user));
    return fill(row, "%3", centsText(edition, exact));
}

std::string scoreSentence(Edition edition, const std::string& score)
{
    return fill(std::string(text(edition, TextKey::A11yScore)), "%1", score);
}

}  // namespace velmora
