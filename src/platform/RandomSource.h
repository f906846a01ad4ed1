#pragma once

namespace velmora {

class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seedFromClock() = 0;
    // A uniform integer r with 0 <= r < n (n > 0).
    virtual int draw(int n) = 0;
};

}  // namespace velmora
