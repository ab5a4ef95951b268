#include "install/qt_installation_ui.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace perchwell {

bool QtInstallationUi::confirmInstall(const std::string& message, const std::string& informativeText) {
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(message), QString::fromStdString(message));
    box.setInformativeText(QString::fromStdString(informativeText));
    QPushButton* install = box.addButton(QStringLiteral("Install and Relaunch"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    box.setDefaultButton(install);
    box.exec();
    return box.clickedButton() == install;
}

void QtInstallationUi::showFailure(const std::string& informativeText) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Install Failed"),
                    QStringLiteral("Install Failed"));
    box.setInformativeText(QString::fromStdString(informativeText));
    box.exec();
}

Result<void> QtInstallationUi::launch(const std::string& executable,
                                      const std::vector<std::string>& arguments) {
    QStringList list;
    for (const auto& argument : arguments) {
        list << QString::fromStdString(argument);
    }
    if (!QProcess::startDetached(QString::fromStdString(executable), list)) {
        return Error{"the process could not be started"};
    }
    return {};
}

void QtInstallationUi::terminateSoon() {
    QTimer::singleShot(500, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
}

} // namespace perchwell
