#include "views/settings/general_pane.h"

#include "platform/paths.h"
#include "state/settings_store.h"
#include "views/settings/keywords_section.h"
#include "views/settings/settings_controls.h"

#include <QFormLayout>
#include <QLabel>

namespace perchwell {

GeneralPane::GeneralPane(SettingsStore& store, const SettingsActions& actions, QWidget* parent)
    : QWidget(parent), store_(store), actions_(actions) {
    QVBoxLayout* page = makeSettingsPage(this).layout;

    QVBoxLayout* accept = addSection(page, QStringLiteral("Auto Accept"));
    enabled_ = boundToggle(store, QStringLiteral("Enable Watcher"), &SettingsStore::enabled,
                           &SettingsStore::setEnabled, &SettingsStore::enabledChanged, this);
    accept->addWidget(enabled_);
    addCaption(accept,
               QStringLiteral("Perchwell can auto-allow safe Claude Code hook prompts. Risky prompts are "
                              "held for you to confirm."));
    safePromptOnly_ =
        boundToggle(store, QStringLiteral("Ask before risky actions"), &SettingsStore::safePromptOnly,
                    &SettingsStore::setSafePromptOnly, &SettingsStore::safePromptOnlyChanged, this);
    accept->addWidget(safePromptOnly_);
    addCaption(accept,
               QStringLiteral("If a prompt matches a risky keyword, Perchwell stops and asks you instead "
                              "of auto-allowing."));

    QVBoxLayout* risk = addSection(page, QStringLiteral("Risk Keywords"));
    keywords_ = new KeywordsSection(store, this);
    risk->addWidget(keywords_);

    QVBoxLayout* desktop = addSection(page, QStringLiteral("Desktop Status"));
    mascotEnabled_ =
        boundToggle(store, QStringLiteral("Show desktop status"), &SettingsStore::mascotEnabled,
                    &SettingsStore::setMascotEnabled, &SettingsStore::mascotEnabledChanged, this);
    desktop->addWidget(mascotEnabled_);
    addCaption(desktop,
               QStringLiteral("The desktop status hides after 5 minutes of inactivity and returns when "
                              "new activity appears. Background watching keeps running."));
    corner_ = new QComboBox(this);
    corner_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (HomeCorner corner : allHomeCorners) {
        corner_->addItem(
            QString::fromUtf8(displayLabel(corner).data(), qsizetype(displayLabel(corner).size())),
            QVariant::fromValue(corner));
    }
    const auto showCorner = [this](HomeCorner corner) {
        const QSignalBlocker quiet(corner_);
        corner_->setCurrentIndex(corner_->findData(QVariant::fromValue(corner)));
    };
    showCorner(store.mascotHomeCorner());
    connect(&store, &SettingsStore::mascotHomeCornerChanged, corner_, showCorner);
    connect(corner_, &QComboBox::currentIndexChanged, &store,
            [this] { store_.setMascotHomeCorner(corner_->currentData().value<HomeCorner>()); });
    auto* cornerForm = new QFormLayout;
    cornerForm->addRow(QStringLiteral("Default position"), corner_);
    desktop->addLayout(cornerForm);
    gazeAutoHit_ =
        boundToggle(store, QStringLiteral("Eye break: gaze hit detection"), &SettingsStore::gazeAutoHit,
                    &SettingsStore::setGazeAutoHit, &SettingsStore::gazeAutoHitChanged, this);
    desktop->addWidget(gazeAutoHit_);
    addCaption(desktop,
               QStringLiteral("During the 1-minute eye break, Perchwell can use the camera to detect when "
                              "you look at the mascot. If camera access is off, clicks still work."));

    QVBoxLayout* login = addSection(page, QStringLiteral("Startup"));
    startAtLogin_ = boundToggle(store, QStringLiteral("Start at login"), &SettingsStore::startAtLogin,
                                &SettingsStore::setStartAtLogin, &SettingsStore::startAtLoginChanged, this);
    login->addWidget(startAtLogin_);
    addCaption(login, QStringLiteral("Registers Perchwell to start when you log in."));
    loginError_ = new QWidget(this);
    auto* errorLayout = new QVBoxLayout(loginError_);
    errorLayout->setContentsMargins(0, 4, 0, 0);
    loginErrorHeading_ = new StatusRow(loginError_);
    loginErrorHeading_->set(QStringLiteral("exclamationmark.triangle.fill"),
                            QStringLiteral("Start at login could not be enabled"));
    errorLayout->addWidget(loginErrorHeading_);
    loginErrorText_ = addCaption(errorLayout, QString());
    auto* openAutostart =
        makeButton(QStringLiteral("Open autostart folder"), QStringLiteral("arrow.down.circle"));
    errorLayout->addWidget(openAutostart);
    connect(openAutostart, &QPushButton::clicked, this, [this] {
        const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(Paths::userConfigRoot()) +
                                                QStringLiteral("/autostart"));
        if (actions_.openUrl && !actions_.openUrl(folder)) {
            loginErrorText_->setText(loginErrorText_->text() + QStringLiteral("\nNo file manager opened ") +
                                     folder.toLocalFile() + QStringLiteral("."));
        }
    });
    login->addWidget(loginError_);
    showLoginError(store.startAtLoginError());
    connect(&store, &SettingsStore::startAtLoginErrorChanged, this, &GeneralPane::showLoginError);

    page->addStretch(1);
}

void GeneralPane::showLoginError(const QString& error) {
    loginErrorText_->setText(error);
    loginError_->setVisible(!error.isNull());
}

QString GeneralPane::loginErrorText() const {
    return loginError_->isHidden() ? QString() : loginErrorText_->text();
}

} // namespace perchwell
