#pragma once

#include "views/settings/settings_actions.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace perchwell {

class PermissionsManager;
class StatusRow;

// Permissions: keystrokes (Accessibility), the camera, and where Perchwell runs from.
class PermissionsPane : public QWidget {
    Q_OBJECT
public:
    // How long "Refreshed" stays after a refresh.
    static constexpr int refreshedFeedbackMs = 2500;

    PermissionsPane(PermissionsManager& permissions, const SettingsActions& actions,
                    QWidget* parent = nullptr);

    StatusRow* accessibilityState() const { return accessibility_; }
    StatusRow* cameraState() const { return camera_; }
    QPushButton* refreshButton() const { return refresh_; }
    StatusRow* refreshedFeedback() const { return refreshed_; }
    StatusRow* installLocation() const { return location_; }
    QPushButton* installButton() const { return install_; }
    // The last error of an "Open desktop settings" button; empty when there is none.
    QString openError() const { return openError_->isHidden() ? QString() : openError_->text(); }

    void refresh();

private:
    void showPermissions();
    void showResult(const QString& error);

    PermissionsManager& permissions_;
    SettingsActions actions_;
    StatusRow* accessibility_;
    StatusRow* camera_;
    QLabel* openError_;
    QPushButton* refresh_;
    StatusRow* refreshed_;
    QTimer refreshedTimer_;
    StatusRow* location_;
    QPushButton* install_ = nullptr;
};

} // namespace perchwell
