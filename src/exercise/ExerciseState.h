#pragma once

#include "exercise/Levels.h"

namespace velmora::exercise {

// The state of the running exercise and of its scoring, for the whole run.
struct ExerciseState {
    Offsets answerOffsets{};
    bool referenceUsed = false;
    double startTime = 0;
    double endTime = 0;
    int score = 100;
    bool resultRunActive = false;
    int resultRunNote = 60;
};

}  // namespace velmora::exercise
