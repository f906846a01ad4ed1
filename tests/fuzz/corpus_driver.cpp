// Runs the fuzz target without libFuzzer: every file of the corpus as it is, then a fixed number
// of mutations of them (bytes flipped, inserted, removed, lines dropped, duplicated or swapped,
// pieces of two files spliced), from a fixed seed so a failure can be repeated.
//
//   report_parser_corpus [--mutations N] [--seed S] [--write-seeds DIR] FILE_OR_DIR...
//
// --write-seeds first writes reports made by the program's own report builder into DIR.
#include "exercise/Report.h"
#include "exercise/ReportParser.h"
#include "exercise/Scoring.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;
using namespace velmora;
using namespace velmora::exercise;

void run(const std::string& input)
{
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

void writeSeeds(const fs::path& folder)
{
    fs::create_directories(folder);
    std::mt19937 random(1);
    int count = 0;
    auto write = [&](const std::string& text) {
        std::ofstream(folder / ("report-" + std::to_string(++count) + ".txt"), std::ios::binary) << text;
    };
    for (const ReportDateFormat& format : usualReportDateFormats()) {
        for (Edition edition : {Edition::Japanese, Edition::English}) {
            const int levelIndex = count % 4;
            const Level& level = kLevels[std::size_t(levelIndex)];
            ReportValues values;
            std::array<int, kPitchClasses> user{}, exact{};
            for (std::size_t i = 0; i < kPitchClasses; ++i) {
                exact[i] = -level.offsetForDraw(int(random() % unsigned(level.drawRange)));
                user[i] = (level.minimum + int(random() % unsigned(level.maximum - level.minimum + 1))) * level.step;
                values.user[i] = fieldText(user[i]);
                values.exact[i] = fieldText(exact[i]);
            }
            values.score = fieldText(computeScore(user, exact));
            values.device = "Synth input port (128:0)";
            values.instrument = "Acoustic Grand Piano";
            values.difficultyIndex = levelIndex;
            values.referenceUsed = count % 3 == 0;
            values.startTime = 46364.0 + (random() % 86400) / 86400.0;
            values.endTime = values.startTime + (random() % 4000) / 86400.0;
            const std::string report = joinCrLf(buildReportLines(edition, values, format.formats, format.locale));
            write(report);
            std::string lf;
            for (char c : report)
                if (c != '\r')
                    lf += c;
            write(report + lf);
        }
    }
}

std::string mutated(const std::vector<std::string>& corpus, std::mt19937& random)
{
    std::string text = corpus[random() % corpus.size()];
    const int edits = 1 + int(random() % 4);
    for (int e = 0; e < edits; ++e) {
        const std::size_t at = text.empty() ? 0 : random() % text.size();
        switch (random() % 7) {
        case 0:
            if (!text.empty())
                text[at] = char(random());
            break;
        case 1:
            text.insert(at, 1, char(random()));
            break;
        case 2:
            if (!text.empty())
                text.erase(at, 1 + random() % 8);
            break;
        case 3: {  // a line dropped
            const std::size_t begin = text.rfind('\n', at);
            const std::size_t end = text.find('\n', at);
            if (begin != std::string::npos && end != std::string::npos)
                text.erase(begin, end - begin);
            break;
        }
        case 4: {  // a line repeated
            const std::size_t begin = text.rfind('\n', at);
            const std::size_t end = text.find('\n', at);
            if (begin != std::string::npos && end != std::string::npos)
                text.insert(end, text.substr(begin, end - begin));
            break;
        }
        case 5: {  // a digit changed
            const std::size_t digit = text.find_first_of("0123456789", at);
            if (digit != std::string::npos)
                text[digit] = char('0' + random() % 10);
            break;
        }
        default: {  // spliced with another
            const std::string& other = corpus[random() % corpus.size()];
            const std::size_t from = other.empty() ? 0 : random() % other.size();
            text = text.substr(0, at) + other.substr(from);
            break;
        }
        }
    }
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    long mutations = 0;
    unsigned seed = 1;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--mutations" && i + 1 < argc)
            mutations = std::atol(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc)
            seed = unsigned(std::atol(argv[++i]));
        else if (arg == "--write-seeds" && i + 1 < argc)
            writeSeeds(argv[++i]);
        else
            inputs.emplace_back(arg);
    }
    std::vector<std::string> corpus;
    auto load = [&corpus](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const fs::path& input : inputs) {
        if (fs::is_directory(input)) {
            for (const auto& entry : fs::directory_iterator(input))
                if (entry.is_regular_file())
                    load(entry.path());
        } else {
            load(input);
        }
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "no corpus files\n");
        return 2;
    }
    for (const std::string& input : corpus)
        run(input);
    std::mt19937 random(seed);
    for (long i = 0; i < mutations; ++i)
        run(mutated(corpus, random));
    std::printf("%zu corpus files and %ld mutations parsed\n", corpus.size(), mutations);
    return 0;
}
