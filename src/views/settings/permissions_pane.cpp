#include "views/settings/permissions_pane.h"

#include "companion/permissions_manager.h"
#include "install/installation_manager.h"
#include "views/settings/settings_controls.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>

namespace perchwell {

PermissionsPane::PermissionsPane(PermissionsManager& permissions, const SettingsActions& actions,
                                 QWidget* parent)
    : QWidget(parent), permissions_(permissions), actions_(actions) {
    QVBoxLayout* page = makeSettingsPage(this).layout;

    QVBoxLayout* keys = addSection(page, QStringLiteral("Accessibility"));
    accessibility_ = new StatusRow(this);
    keys->addWidget(accessibility_);
    auto* openKeys = makeButton(QStringLiteral("Open desktop settings"), QStringLiteral("gearshape"), this);
    keys->addWidget(openKeys);
    addCaption(keys, QStringLiteral("Auto Continue types into your terminal through the X11 XTEST extension; "
                                    "Wayland sessions offer no such service."));

    QVBoxLayout* camera = addSection(page, QStringLiteral("Camera"));
    camera_ = new StatusRow(this);
    camera->addWidget(camera_);
    auto* cameraButtons = new QHBoxLayout;
    auto* request = makeButton(QStringLiteral("Request Access"), QStringLiteral("lock.shield"), this);
    auto* openCamera = makeButton(QStringLiteral("Open desktop settings"), QStringLiteral("gearshape"), this);
    cameraButtons->addWidget(request);
    cameraButtons->addWidget(openCamera);
    cameraButtons->addStretch(1);
    camera->addLayout(cameraButtons);
    addCaption(camera,
               QStringLiteral("Only used for optional eye-break gaze detection. Perchwell does not record or "
                              "upload video. If access was refused earlier, allow it in your desktop's "
                              "privacy settings or add your user to the video group."));

    openError_ = addCaption(page, QString());
    openError_->setStyleSheet(QStringLiteral("color: #b45309;"));
    openError_->hide();

    auto* refreshRow = new QHBoxLayout;
    refresh_ =
        makeButton(QStringLiteral("Refresh permission status"), QStringLiteral("arrow.clockwise"), this);
    refreshed_ = new StatusRow(this);
    refreshed_->set(QStringLiteral("checkmark.circle.fill"), QStringLiteral("Refreshed"));
    refreshed_->hide();
    refreshRow->addWidget(refresh_);
    refreshRow->addWidget(refreshed_);
    refreshRow->addStretch(1);
    page->addLayout(refreshRow);

    QVBoxLayout* where = addSection(page, QStringLiteral("Install Location"));
    location_ = new StatusRow(this);
    where->addWidget(location_);
    const QString dir = QString::fromStdString(actions_.executableDir);
    if (InstallationManager::isProperlyInstalled(actions_.executableDir)) {
        // bin/ sits in the install prefix.
        location_->set(QStringLiteral("checkmark.seal.fill"),
                       QStringLiteral("Installed in ") + QDir::cleanPath(dir + QStringLiteral("/..")) +
                           QStringLiteral("/"));
    } else {
        location_->set(QStringLiteral("exclamationmark.triangle.fill"),
                       QStringLiteral("Running from a temporary path"));
        addCaption(where, QStringLiteral("The menu entry, autostart and installed hook commands may not find "
                                         "Perchwell reliably until it is installed under ~/.local."));
        if (actions_.installAndRelaunch) {
            install_ = makeButton(QStringLiteral("Install to ~/.local and relaunch"),
                                  QStringLiteral("square.and.arrow.down.on.square"), this);
            where->addWidget(install_);
            connect(install_, &QPushButton::clicked, this, [this] { actions_.installAndRelaunch(); });
        }
    }
    addCaption(where,
               QStringLiteral("For a reliable menu entry, autostart and hook command, run Perchwell from an "
                              "install prefix such as /usr or ~/.local."));
    page->addStretch(1);

    refreshedTimer_.setSingleShot(true);
    refreshedTimer_.setInterval(refreshedFeedbackMs);
    connect(&refreshedTimer_, &QTimer::timeout, refreshed_, &QWidget::hide);
    connect(openKeys, &QPushButton::clicked, this, [this] {
        showResult(QString::fromStdString(permissions_.openAccessibilitySettings().error().message));
    });
    connect(openCamera, &QPushButton::clicked, this, [this] {
        showResult(QString::fromStdString(permissions_.openCameraSettings().error().message));
    });
    connect(request, &QPushButton::clicked, this, [this] { permissions_.requestCamera(); });
    connect(refresh_, &QPushButton::clicked, this, &PermissionsPane::refresh);
    connect(&permissions_, &PermissionsManager::accessibilityGrantedChanged, this,
            &PermissionsPane::showPermissions);
    connect(&permissions_, &PermissionsManager::cameraGrantedChanged, this,
            &PermissionsPane::showPermissions);
    showPermissions();
}

void PermissionsPane::refresh() {
    permissions_.refresh();
    showPermissions();
    refreshed_->show();
    refreshedTimer_.start();
}

void PermissionsPane::showPermissions() {
    const QString warning = QStringLiteral("exclamationmark.triangle.fill");
    const QString granted = QStringLiteral("checkmark.seal.fill");
    accessibility_->set(permissions_.accessibilityGranted() ? granted : warning,
                        permissions_.accessibilityGranted()
                            ? QStringLiteral("Granted")
                            : QStringLiteral("Not granted - Auto Continue cannot send keystrokes"));
    camera_->set(permissions_.cameraGranted() ? granted : warning,
                 permissions_.cameraGranted()
                     ? QStringLiteral("Granted")
                     : QStringLiteral("Not granted - eye break can still use clicks"));
}

void PermissionsPane::showResult(const QString& error) {
    openError_->setText(error);
    openError_->setVisible(!error.isEmpty());
}

} // namespace perchwell
