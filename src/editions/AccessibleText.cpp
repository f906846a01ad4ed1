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

namespace {

bool isSharp(int pitchClass)
{
    return pitchClassLabel(pitchClass).size() > 1;
}

std::string naturalLetter(int pitchClass)
{
    return std::string(pitchClassLabel(pitchClass).substr(0, 1));
}

}  // namespace

std::string spokenPitchClass(Edition edition, int pitchClass)
{
    if (!isSharp(pitchClass))
        return std::string(pitchClassLabel(pitchClass));
    return fill(std::string(text(edition, TextKey::A11ySharp)), "%1", naturalLetter(pitchClass));
}

std::string noteName(Edition edition, int note)
{
    const int pitchClass = ((note % 12) + 12) % 12;
    const std::string octave = std::to_string(note / 12 - 1);
    if (!isSharp(pitchClass))
        return std::string(pitchClassLabel(pitchClass)) + octave;
    const std::string name = fill(std::string(text(edition, TextKey::A11ySharpNote)), "%1", naturalLetter(pitchClass));
    return fill(name, "%2", octave);
}

std::string resultsRowText(Edition edition, int pitchClass, int user, int exact)
{
    std::string row(text(edition, TextKey::A11yResultsRow));
    row = fill(row, "%1", spokenPitchClass(edition, pitchClass));
    row = fill(row, "%2", centsText(edition, user));
    return fill(row, "%3", centsText(edition, exact));
}

std::string scoreSentence(Edition edition, const std::string& score)
{
    return fill(std::string(text(edition, TextKey::A11yScore)), "%1", score);
}

}  // namespace velmora
