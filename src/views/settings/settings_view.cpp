#include "views/settings/settings_view.h"

#include "install/hook_presence_monitor.h"
#include "platform/paths.h"
#include "views/settings/about_pane.h"
#include "views/settings/assistant_pane.h"
#include "views/settings/general_pane.h"
#include "views/settings/mcp_pane.h"
#include "views/settings/permissions_pane.h"
#include "views/settings/settings_icons.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTabBar>
#include <QVBoxLayout>

namespace perchwell {

SettingsActions SettingsActions::system() {
    SettingsActions actions;
    actions.executableDir = Paths::executableDirectory();
    actions.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return actions;
}

namespace {

QWidget* makeHeader(QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(18, 14, 18, 6);
    layout->setSpacing(12);
    auto* icon = new QLabel(header);
    icon->setPixmap(drawnSettingsIcon(QStringLiteral("sparkles")).pixmap(36, 36));
    layout->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    auto* name = new QLabel(QStringLiteral("Perchwell"), header);
    QFont big = name->font();
    big.setPointSizeF(big.pointSizeF() * 1.5);
    big.setBold(true);
    name->setFont(big);
    auto* line = new QLabel(QStringLiteral("Agent Keepalive for Claude Code"), header);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    line->setPalette(palette);
    texts->addWidget(name);
    texts->addWidget(line);
    layout->addLayout(texts, 1);
    return header;
}

} // namespace

SettingsView::SettingsView(SettingsStore& store, PermissionsManager& permissions, MCPServer* server,
                           SettingsTab firstTab, SettingsActions actions, HookPresenceMonitor* hookPresence,
                           QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint),
      tabs_(new QTabWidget(this)), general_(new GeneralPane(store, actions, this)),
      assistant_(new AssistantPane(store, actions, this)),
      permissions_(new PermissionsPane(permissions, actions, this)), mcp_(new MCPPane(store, server, this)),
      about_(new AboutPane(this)) {
    setWindowTitle(QStringLiteral("Perchwell"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(width, height);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader(this));

    QWidget* panes[] = {general_, assistant_, permissions_, mcp_, about_};
    for (SettingsTab tab : allSettingsTabs) {
        tabs_->addTab(panes[static_cast<int>(tab)], settingsIcon(settingsTabSymbol(tab)),
                      settingsTabTitle(tab));
    }
    tabs_->setDocumentMode(true);
    tabs_->tabBar()->setExpanding(false);
    tabs_->tabBar()->setUsesScrollButtons(false);
    tabs_->tabBar()->setElideMode(Qt::ElideNone);
    tabs_->setIconSize(QSize(16, 16));
    layout->addWidget(tabs_, 1);
    showTab(firstTab);

    if (hookPresence != nullptr) {
        connect(hookPresence, &HookPresenceMonitor::installedChanged, assistant_,
                &AssistantPane::refreshHookState);
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

SettingsTab SettingsView::currentTab() const {
    return allSettingsTabs.at(tabs_->currentIndex());
}

void SettingsView::showTab(SettingsTab tab) {
    tabs_->setCurrentIndex(static_cast<int>(tab));
}

void SettingsView::present() {
    if (isMinimized()) {
        setWindowState(windowState() & ~Qt::WindowMinimized);
    }
    show();
    raise();
    activateWindow();
}

void SettingsView::showEvent(QShowEvent* event) {
    // Claude Code's settings may have changed while the window was closed.
    assistant_->refreshHookState();
    QWidget::showEvent(event);
}

} // namespace perchwell
