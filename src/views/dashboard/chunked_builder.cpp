#include "views/dashboard/chunked_builder.h"

namespace perchwell {

ChunkedBuilder::ChunkedBuilder(int perTurn, QObject* parent) : QObject(parent), perTurn_(perTurn) {
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &ChunkedBuilder::turn);
}

void ChunkedBuilder::start(std::vector<std::function<void()>> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    turn(); // the first few at once: what is on screen first is there immediately
}

void ChunkedBuilder::turn() {
    for (int i = 0; i < perTurn_ && next_ < steps_.size(); ++i) {
        // A step may start the builder again; it then runs the new steps from the next turn.
        auto step = std::move(steps_[next_++]);
        step();
    }
    if (busy()) {
        timer_.start();
    } else {
        timer_.stop();
        steps_.clear();
        next_ = 0;
    }
}

} // namespace perchwell
