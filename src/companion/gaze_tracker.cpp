#include "companion/gaze_tracker.h"

#include "platform/linux/video_device_camera_access.h"

#include <QMetaObject>
#include <pthread.h>

namespace perchwell {

GazeTracker::GazeTracker(std::shared_ptr<CameraAccess> access, CameraFactory cameras, QObject* parent)
    : QObject(parent), access_(std::move(access)), cameras_(std::move(cameras)) {
    if (!access_) {
        access_ = std::make_shared<VideoDeviceCameraAccess>();
    }
    if (!cameras_) {
        cameras_ = &makeSystemGazeCamera;
    }
}

GazeTracker::~GazeTracker() {
    // The capture thread posts to this object: it must be gone before the object is.
    if (stopRequested_) {
        stopRequested_->store(true);
    }
    joinCapture();
}

std::string GazeTracker::cameraStatusLine(CameraAuthorization status) {
    return "[Perchwell] launch: camera authorization status = " + std::to_string(static_cast<int>(status)) +
           " (0=notDetermined, 1=restricted, 2=denied, 3=authorized)";
}

void GazeTracker::start() {
    if (isActive_) {
        return;
    }
    setLastError(QString());
    switch (access_->status()) {
    case CameraAuthorization::notDetermined:
        // Device permissions are not something a desktop asks the user about.
        setLastError(QStringLiteral("Camera access was denied."));
        break;
    case CameraAuthorization::restricted:
        setLastError(QStringLiteral("Camera access is restricted on this device."));
        break;
    case CameraAuthorization::denied:
        setLastError(QStringLiteral("Camera access is denied. Re-enable it in System Settings."));
        break;
    case CameraAuthorization::authorized:
        configureAndStart();
        break;
    default:
        setLastError(QStringLiteral("Unknown camera authorization state."));
        break;
    }
}

void GazeTracker::configureAndStart() {
    joinCapture();
    std::shared_ptr<GazeCamera> camera = cameras_();
    const quint64 generation = ++generation_;
    auto stopRequested = std::make_shared<std::atomic<bool>>(false);
    stopRequested_ = stopRequested;
    setActive(true);
    capture_ = std::thread([this, camera, stopRequested, generation] {
        pthread_setname_np(pthread_self(), "pv.gaze.video");
        const auto post = [this, generation](auto&& onMain) {
            QMetaObject::invokeMethod(
                this,
                [this, generation, onMain = std::move(onMain)] {
                    if (generation == generation_ && isActive_) {
                        onMain();
                    }
                },
                Qt::QueuedConnection);
        };
        auto opened = camera->open();
        if (!opened) {
            post([this, error = QString::fromStdString(opened.error().message)] { fail(error); });
            return;
        }
        while (!stopRequested->load()) {
            auto frame = camera->nextLandmarks();
            if (!frame) {
                post([this, error = QString::fromStdString(frame.error().message)] { fail(error); });
                break;
            }
            const auto raw = *frame ? computeGazeDirection(**frame) : std::nullopt;
            post([this, raw] { raw ? apply(*raw) : clearGaze(); });
        }
        camera->close();
    });
}

void GazeTracker::stop() {
    if (!isActive_) {
        return;
    }
    ++generation_;
    stopRequested_->store(true);
    // Joined here so that the device is closed (its light off) when stop() returns.
    joinCapture();
    setActive(false);
    clearGaze();
}

void GazeTracker::fail(const QString& error) {
    setLastError(error);
    ++generation_;
    stopRequested_->store(true);
    joinCapture();
    setActive(false);
    clearGaze();
}

void GazeTracker::apply(GazePoint rawDirection) {
    gazeDirection_ = smoothing_.apply(rawDirection);
    emit gazeDirectionChanged(gazeDirection_);
}

void GazeTracker::clearGaze() {
    smoothing_.reset();
    if (gazeDirection_) {
        gazeDirection_.reset();
        emit gazeDirectionChanged(gazeDirection_);
    }
}

void GazeTracker::setActive(bool active) {
    if (isActive_ != active) {
        isActive_ = active;
        emit isActiveChanged(active);
    }
}

void GazeTracker::setLastError(const QString& error) {
    if (lastError_ != error || lastError_.isNull() != error.isNull()) {
        lastError_ = error;
        emit lastErrorChanged(error);
    }
}

void GazeTracker::joinCapture() {
    if (capture_.joinable()) {
        capture_.join();
    }
}

} // namespace perchwell
