#pragma once

#include "views/settings/settings_actions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace perchwell {

class KeywordsSection;
class SettingsStore;
class StatusRow;

// General: auto accept, the risk keywords, the desktop status and start at login.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    GeneralPane(SettingsStore& store, const SettingsActions& actions, QWidget* parent = nullptr);

    QCheckBox* watcherToggle() const { return enabled_; }
    QCheckBox* safePromptToggle() const { return safePromptOnly_; }
    KeywordsSection* keywords() const { return keywords_; }
    QCheckBox* mascotToggle() const { return mascotEnabled_; }
    QComboBox* cornerPicker() const { return corner_; }
    QCheckBox* gazeToggle() const { return gazeAutoHit_; }
    QCheckBox* startAtLoginToggle() const { return startAtLogin_; }
    // Shown while the login item could not be registered.
    QWidget* loginErrorBox() const { return loginError_; }
    QString loginErrorText() const;

private:
    void showLoginError(const QString& error);

    SettingsStore& store_;
    SettingsActions actions_;
    QCheckBox* enabled_;
    QCheckBox* safePromptOnly_;
    KeywordsSection* keywords_;
    QCheckBox* mascotEnabled_;
    QComboBox* corner_;
    QCheckBox* gazeAutoHit_;
    QCheckBox* startAtLogin_;
    QWidget* loginError_;
    StatusRow* loginErrorHeading_;
    QLabel* loginErrorText_;
};

} // namespace perchwell
