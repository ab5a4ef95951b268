#pragma once

#include <QLabel>
#include <QWidget>

namespace perchwell {

// About: the name, what it does, and the version.
class AboutPane : public QWidget {
    Q_OBJECT
public:
    explicit AboutPane(QWidget* parent = nullptr);

    // "<version> (<build>)", "?" for a part the build does not carry.
    static QString versionText(const QString& version, const QString& build);
    QString shownVersion() const { return version_->text(); }

private:
    QLabel* version_;
};

} // namespace perchwell
