#pragma once

#include "common/result.h"
#include "platform/accessibility_trust.h"
#include "platform/camera_access.h"

#include <QMetaObject>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

namespace perchwell {

// Publishes whether keystrokes can be posted (Accessibility) and whether a camera may
// be opened, and keeps the first fresh while it is missing. Main thread only.
class PermissionsManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool accessibilityGranted READ accessibilityGranted NOTIFY accessibilityGrantedChanged)
    Q_PROPERTY(bool cameraGranted READ cameraGranted NOTIFY cameraGrantedChanged)
public:
    static constexpr std::chrono::milliseconds defaultPollInterval{3000};

    // Starts a detached program; false when it could not be started.
    using Launcher = std::function<bool(const QString& program, const QStringList& arguments)>;

    // Null probes take the platform's own (XTEST, video device nodes).
    explicit PermissionsManager(std::shared_ptr<AccessibilityTrust> accessibility = nullptr,
                                std::shared_ptr<CameraAccess> camera = nullptr, QObject* parent = nullptr);
    ~PermissionsManager() override;

    bool accessibilityGranted() const { return accessibilityGranted_; }
    bool cameraGranted() const { return cameraGranted_; }
    CameraAuthorization cameraStatus() const;

    void refresh();
    // Refreshes now, whenever the application becomes active, and every 3 s while
    // Accessibility is missing.
    void startMonitoring();
    void requestCamera();

    // Open what the desktop offers for these permissions; an error says what to do
    // when it offers nothing.
    Result<void> openAccessibilitySettings();
    Result<void> openCameraSettings();

    bool isPolling() const { return monitorTimer_.isActive(); }
    void setPollInterval(std::chrono::milliseconds interval) { monitorTimer_.setInterval(interval); }
    void setLauncher(Launcher launcher) { launcher_ = std::move(launcher); }

signals:
    void accessibilityGrantedChanged(bool granted);
    void cameraGrantedChanged(bool granted);

private:
    void armPollIfNeeded();
    void pollTick();
    void setAccessibilityGranted(bool granted);
    void setCameraGranted(bool granted);

    bool accessibilityGranted_ = false;
    bool cameraGranted_ = false;
    QTimer monitorTimer_;
    QMetaObject::Connection becameActiveObserver_;
    std::shared_ptr<AccessibilityTrust> accessibility_;
    std::shared_ptr<CameraAccess> camera_;
    Launcher launcher_;
};

} // namespace perchwell
