#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <vector>

namespace perchwell {

// Runs many small widget-building steps a few per event-loop turn, so that a lens with
// a hundred cards never holds the main thread for long. Main thread only.
class ChunkedBuilder : public QObject {
public:
    explicit ChunkedBuilder(int perTurn, QObject* parent = nullptr);

    // Drops the steps not yet run and starts these.
    void start(std::vector<std::function<void()>> steps);
    bool busy() const { return next_ < steps_.size(); }

private:
    void turn();

    int perTurn_;
    QTimer timer_;
    std::vector<std::function<void()>> steps_;
    size_t next_ = 0;
};

} // namespace perchwell
