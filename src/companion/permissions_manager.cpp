#include "companion/permissions_manager.h"

#include "common/system_log.h"
#include "platform/linux/video_device_camera_access.h"
#include "platform/linux/xtest_accessibility_trust.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>

namespace perchwell {

namespace {

bool startDetached(const QString& program, const QStringList& arguments) {
    const QString path = QStandardPaths::findExecutable(program);
    return !path.isEmpty() && QProcess::startDetached(path, arguments);
}

} // namespace

PermissionsManager::PermissionsManager(std::shared_ptr<AccessibilityTrust> accessibility,
                                       std::shared_ptr<CameraAccess> camera, QObject* parent)
    : QObject(parent), accessibility_(std::move(accessibility)), camera_(std::move(camera)),
      launcher_(startDetached) {
    if (!accessibility_) {
        accessibility_ = std::make_shared<XTestAccessibilityTrust>();
    }
    if (!camera_) {
        camera_ = std::make_shared<VideoDeviceCameraAccess>();
    }
    monitorTimer_.setInterval(defaultPollInterval);
    connect(&monitorTimer_, &QTimer::timeout, this, &PermissionsManager::pollTick);
    accessibilityGranted_ = accessibility_->isTrusted();
    cameraGranted_ = camera_->status() == CameraAuthorization::authorized;
}

PermissionsManager::~PermissionsManager() {
    disconnect(becameActiveObserver_);
}

CameraAuthorization PermissionsManager::cameraStatus() const {
    return camera_->status();
}

void PermissionsManager::refresh() {
    setAccessibilityGranted(accessibility_->isTrusted());
    setCameraGranted(camera_->status() == CameraAuthorization::authorized);
}

void PermissionsManager::startMonitoring() {
    refresh();
    if (!becameActiveObserver_) {
        becameActiveObserver_ = connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
                                        [this](Qt::ApplicationState state) {
                                            if (state == Qt::ApplicationActive) {
                                                refresh();
                                                armPollIfNeeded();
                                            }
                                        });
    }
    armPollIfNeeded();
}

void PermissionsManager::armPollIfNeeded() {
    monitorTimer_.stop();
    if (!accessibilityGranted_) {
        monitorTimer_.start();
    }
}

void PermissionsManager::pollTick() {
    refresh();
    if (accessibilityGranted_) {
        monitorTimer_.stop();
    }
}

void PermissionsManager::requestCamera() {
    const CameraAuthorization before = camera_->status();
    systemlog::write("[Perchwell] requestCamera called. status before = " +
                     std::to_string(static_cast<int>(before)));
    // Linux asks nobody: access follows the device nodes' permissions, so the answer
    // is what the devices allow now.
    const bool granted = camera_->status() == CameraAuthorization::authorized;
    systemlog::write(std::string("[Perchwell] requestCamera completion: granted=") +
                     (granted ? "true" : "false"));
    QMetaObject::invokeMethod(this, &PermissionsManager::refresh, Qt::QueuedConnection);
}

Result<void> PermissionsManager::openAccessibilitySettings() {
    refresh();
    if (accessibilityGranted_) {
        return {};
    }
    // XTEST is a property of the display server; no desktop has a switch for it.
    return Error{
        "Perchwell types into terminals through the X11 XTEST extension. This session does not offer "
        "it (a Wayland session, or an X server without XTEST); log in to an X11 session to use Auto "
        "Continue."};
}

Result<void> PermissionsManager::openCameraSettings() {
    if (launcher_("gnome-control-center", {QStringLiteral("camera")})) {
        return {};
    }
    return Error{"This desktop has no camera settings to open. Perchwell can use a camera when you may open "
                 "/dev/video* (usually by being a member of the \"video\" group)."};
}

void PermissionsManager::setAccessibilityGranted(bool granted) {
    if (granted != accessibilityGranted_) {
        accessibilityGranted_ = granted;
        emit accessibilityGrantedChanged(granted);
    }
}

void PermissionsManager::setCameraGranted(bool granted) {
    if (granted != cameraGranted_) {
        cameraGranted_ = granted;
        emit cameraGrantedChanged(granted);
    }
}

} // namespace perchwell
