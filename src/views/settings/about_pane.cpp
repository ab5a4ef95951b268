#include "views/settings/about_pane.h"

#include "views/settings/settings_icons.h"

#include <QVBoxLayout>

#ifndef PERCHWELL_VERSION
#define PERCHWELL_VERSION ""
#endif
#ifndef PERCHWELL_BUILD_NUMBER
#define PERCHWELL_BUILD_NUMBER ""
#endif

namespace perchwell {

QString AboutPane::versionText(const QString& version, const QString& build) {
    const auto orUnknown = [](const QString& text) { return text.isEmpty() ? QStringLiteral("?") : text; };
    return orUnknown(version) + QStringLiteral(" (") + orUnknown(build) + QStringLiteral(")");
}

AboutPane::AboutPane(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 32, 24, 24);
    layout->setSpacing(8);
    layout->addStretch(1);
    auto* icon = new QLabel(this);
    icon->setPixmap(settingsIcon(QStringLiteral("info.circle")).pixmap(48, 48));
    icon->setAlignment(Qt::AlignHCenter);
    layout->addWidget(icon);
    auto* name = new QLabel(QStringLiteral("Perchwell"), this);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    name->setFont(big);
    name->setAlignment(Qt::AlignHCenter);
    layout->addWidget(name);
    auto* line = new QLabel(QStringLiteral("Keeps active Claude Code sessions awake and visible."), this);
    line->setAlignment(Qt::AlignHCenter);
    line->setWordWrap(true);
    layout->addWidget(line);
    version_ = new QLabel(
        versionText(QStringLiteral(PERCHWELL_VERSION), QStringLiteral(PERCHWELL_BUILD_NUMBER)), this);
    version_->setAlignment(Qt::AlignHCenter);
    version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(version_);
    layout->addStretch(2);
}

} // namespace perchwell
