#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>

namespace perchwell {

// Time for the eye break: what it reads and how it waits. Tests step a fake one.
class ExerciseClock {
public:
    virtual ~ExerciseClock() = default;
    // Seconds on a monotonic clock.
    virtual double now() const = 0;
    // Calls `action` once on the main thread after `seconds`, unless `context` is gone.
    virtual void after(double seconds, QObject* context, std::function<void()> action) = 0;
};

// The monotonic clock and single-shot timers of the event loop.
class SystemExerciseClock final : public ExerciseClock {
public:
    SystemExerciseClock() { elapsed_.start(); }
    double now() const override { return static_cast<double>(elapsed_.nsecsElapsed()) / 1e9; }
    void after(double seconds, QObject* context, std::function<void()> action) override;

private:
    QElapsedTimer elapsed_;
};

} // namespace perchwell
