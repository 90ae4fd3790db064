#pragma once

namespace bramvell {

// A reading of the local wall clock, broken down.
struct LocalTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Source of local time; tests inject a clock that can cross midnight at will.
class Clock {
public:
    virtual ~Clock() = default;
    virtual LocalTime Now() const = 0;
};

class SystemClock final : public Clock {
public:
    LocalTime Now() const override;
};

// The process-wide system clock.
const Clock& DefaultClock();

}  // namespace bramvell
