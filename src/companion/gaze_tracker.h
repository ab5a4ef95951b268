#pragma once

#include "companion/gaze_direction.h"
#include "platform/camera_access.h"
#include "platform/gaze_camera.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace perchwell {

// Turns camera frames into a smoothed gaze direction for the eye break. The camera is
// open only between start() and stop(); frames are read and analysed on a thread of
// their own ("pv.gaze.video") and the results published on the main thread. Camera
// problems only set `lastError` (a text for the user) and leave the tracker inactive.
class GazeTracker : public QObject {
    Q_OBJECT
public:
    using CameraFactory = std::function<std::unique_ptr<GazeCamera>()>;

    // Null arguments mean the video device nodes and this build's camera backend.
    explicit GazeTracker(std::shared_ptr<CameraAccess> access = nullptr, CameraFactory cameras = nullptr,
                         QObject* parent = nullptr);
    ~GazeTracker() override;

    void start();
    // Releases the camera before it returns.
    void stop();

    std::optional<GazePoint> gazeDirection() const { return gazeDirection_; }
    bool isActive() const { return isActive_; }
    // Null: no error.
    QString lastError() const { return lastError_; }

    // The launch log line for a camera authorisation status.
    static std::string cameraStatusLine(CameraAuthorization status);

signals:
    void gazeDirectionChanged(std::optional<perchwell::GazePoint> direction);
    void isActiveChanged(bool active);
    void lastErrorChanged(const QString& error);

private:
    void configureAndStart();
    void apply(GazePoint rawDirection);
    void clearGaze();
    void fail(const QString& error);
    void setActive(bool active);
    void setLastError(const QString& error);
    void joinCapture();

    std::shared_ptr<CameraAccess> access_;
    CameraFactory cameras_;
    std::optional<GazePoint> gazeDirection_;
    bool isActive_ = false;
    QString lastError_;
    GazeSmoothing smoothing_;
    // Results of an earlier run still in the queue carry an older generation and are dropped.
    quint64 generation_ = 0;
    std::shared_ptr<std::atomic<bool>> stopRequested_;
    std::thread capture_;
};

} // namespace perchwell
