#include "companion/exercise_clock.h"

#include <QTimer>
#include <cmath>

namespace perchwell {

void SystemExerciseClock::after(double seconds, QObject* context, std::function<void()> action) {
    // Whole milliseconds, as timers count them.
    QTimer::singleShot(static_cast<int>(std::llround(seconds * 1000)), context, std::move(action));
}

} // namespace perchwell
