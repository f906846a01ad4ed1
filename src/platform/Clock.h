#pragma once

namespace velmora {

// Blocking waits and the local date-time. Date-times are days since 30 December 1899, the
// fraction being the time of day, so that differences are elapsed days.
class Clock {
public:
    virtual ~Clock() = default;
    virtual void sleep(int milliseconds) = 0;
    virtual double now() const = 0;
};

}  // namespace velmora
