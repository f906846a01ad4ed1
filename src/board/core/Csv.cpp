#include "board/core/Csv.h"

#include "editions/Catalogue.h"

#include <QDateTime>

namespace velmora::board {
namespace {

// A text a spreadsheet would run as a formula keeps its characters behind an apostrophe.
std::string textCell(std::string_view text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        return csvCell("'" + std::string(text));
    return csvCell(text);
}

}  // namespace

std::string csvCell(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string cell = "\"";
    for (char c : text) {
        if (c == '"')
            cell += '"';
        cell += c;
    }
    cell += '"';
    return cell;
}

std::string csvHeader()
{
    std::string header = "id,posted_at,name,edition,level_cents,reference_tone,score,start,end,time_taken,device,instrument";
    for (const char* column : {"yours_", "exact_"})
        for (int pitchClass = 0; pitchClass < exercise::kPitchClasses; ++pitchClass)
            header += "," + std::string(column) + std::string(pitchClassLabel(pitchClass));
    return header + "\r\n";
}

std::string csvRow(const Post& post)
{
    const QString posted = QDateTime::fromMSecsSinceEpoch(post.postedAt, Qt::UTC).toString(Qt::ISODate);
    std::string row = std::to_string(post.id);
    row += ',' + posted.toStdString();
    row += ',' + textCell(post.name);
    row += post.edition == Edition::Japanese ? ",ja" : ",en";
    const exercise::Level* level = exercise::levelFor(post.levelIndex);
    row += ',' + (level ? std::to_string(level->step) : std::string());
    row += post.referenceUsed ? ",used" : ",not used";
    row += ',' + std::to_string(post.score);
    row += ',' + textCell(post.startText);
    row += ',' + textCell(post.endText);
    row += ',' + textCell(post.durationText);
    row += ',' + textCell(post.device);
    row += ',' + textCell(post.instrument);
    for (int cents : post.user)
        row += ',' + std::to_string(cents);
    for (int cents : post.exact)
        row += ',' + std::to_string(cents);
    return row + "\r\n";
}

}  // namespace velmora::board
