#include "companion/menu_bar_controller.h"

#include "common/app_logger.h"
#include "companion/notification_bus.h"
#include "companion/permissions_manager.h"
#include "state/coordinator.h"
#include "state/settings_store.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace perchwell {

namespace {

const QString eyeFill = QStringLiteral("eye.fill");
const QString eyeSlash = QStringLiteral("eye.slash");

QPixmap drawEye(int size, bool slashed) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);

    QPainterPath eye;
    eye.moveTo(3, 16);
    eye.quadTo(16, 3, 29, 16);
    eye.quadTo(16, 29, 3, 16);
    eye.closeSubpath();

    // A light rim under a dark glyph reads on light and dark panels alike.
    const QColor ink(0x2E, 0x2E, 0x33);
    painter.setPen(QPen(QColor(255, 255, 255, 200), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(eye);
    painter.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(eye);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawEllipse(QPointF(16, 16), 5, 5);
    if (slashed) {
        // Cut a gap through the eye, then draw the slash inside it.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(QPen(Qt::transparent, 6.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(6, 5), QPointF(26, 27));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(QPen(QColor(255, 255, 255, 200), 4.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(6, 5), QPointF(26, 27));
        painter.setPen(QPen(ink, 2.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(6, 5), QPointF(26, 27));
    }
    return pixmap;
}

} // namespace

MenuBarController::MenuBarController(SettingsStore& store, PermissionsManager& permissions,
                                     Coordinator* coordinator, QObject* parent)
    : QObject(parent), store_(store), permissions_(permissions), coordinator_(coordinator) {}

MenuBarController::~MenuBarController() {
    if (item_) {
        item_->setContextMenu(nullptr);
    }
}

QIcon MenuBarController::symbolIcon(const QString& symbol) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(drawEye(size, symbol == eyeSlash));
    }
    return icon;
}

void MenuBarController::configureButton() {
    if (!item_) {
        item_ = std::make_unique<QSystemTrayIcon>();
        // Trays that report plain clicks (XEmbed) get the menu on a left click as well.
        connect(item_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger && menu_) {
                        menu_->popup(QCursor::pos());
                    }
                });
    }
    buttonSymbol_ = eyeFill;
    item_->setIcon(symbolIcon(buttonSymbol_));
    item_->setToolTip(QStringLiteral("Perchwell"));
    item_->show();
}

void MenuBarController::refreshButton() {
    buttonSymbol_ = store_.enabled() ? eyeFill : eyeSlash;
    if (item_) {
        item_->setIcon(symbolIcon(buttonSymbol_));
        item_->setToolTip(QStringLiteral("Perchwell"));
    }
}

QString MenuBarController::formatTime(const QDateTime& time) {
    return QLocale::system().toString(time.toLocalTime().time(), QLocale::ShortFormat);
}

QString MenuBarController::keepaliveTitle(const SettingsStore& store, const QString& unavailableReason) {
    const QString prefix = QStringLiteral("Agent Keepalive: ");
    if (!store.agentKeepalive()) {
        return prefix + QStringLiteral("off");
    }
    if (store.agentKeepaliveActive()) {
        const QString reason = store.agentKeepaliveReason();
        QString title = prefix + (reason.isEmpty() ? QStringLiteral("running") : reason);
        if (store.agentKeepaliveClosedLidActive()) {
            title += QStringLiteral(" · closed-lid armed");
        }
        if (store.agentKeepaliveReleaseAt().isValid()) {
            title += QStringLiteral(" · until ") + formatTime(store.agentKeepaliveReleaseAt());
        }
        return title;
    }
    if (!unavailableReason.isEmpty()) {
        return prefix + QStringLiteral("unavailable");
    }
    if (!store.agentKeepaliveLastActivityAt().isValid()) {
        return prefix + QStringLiteral("waiting for agent activity");
    }
    return prefix + QStringLiteral("waiting · last activity ") +
           formatTime(store.agentKeepaliveLastActivityAt());
}

QString MenuBarController::localApiLine(qint64 port, const std::optional<LocalApiStatus>& server) {
    const QString portText = QStringLiteral("MCP / HTTP: port ") + QString::number(port);
    if (server && server->isListening) {
        return portText + QStringLiteral(" · running");
    }
    if (server && !server->lastError.isEmpty()) {
        return QStringLiteral("MCP / HTTP: failed · ") + server->lastError;
    }
    return portText + QStringLiteral(" · starting...");
}

QMenu* MenuBarController::buildMenu() {
    auto* menu = new QMenu;
    const auto info = [menu](const QString& title) {
        QAction* action = menu->addAction(title);
        action->setEnabled(false);
        return action;
    };
    const auto command = [this, menu](const QString& title, void (MenuBarController::*slot)(),
                                      QKeyCombination key = {}) {
        QAction* action = menu->addAction(title);
        if (key.key() != Qt::Key_unknown) {
            action->setShortcut(QKeySequence(key));
        }
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    const bool enabled = store_.enabled();
    info(enabled ? QStringLiteral("● Perchwell running") : QStringLiteral("○ Perchwell paused"));
    const QString keepaliveUnavailable = keepaliveUnavailable_ ? keepaliveUnavailable_() : QString();
    // The system's own words stay one hover away.
    info(keepaliveTitle(store_, keepaliveUnavailable))->setToolTip(keepaliveUnavailable);
    if (store_.agentKeepaliveActive()) {
        command(QStringLiteral("Stop Vuve Vurer"), &MenuBarController::stopSafeCarry, Qt::CTRL | Qt::Key_K);
    } else {
        const double hold = std::max(store_.agentKeepaliveHoldSeconds(), 300.0);
        const auto minutes = static_cast<long long>(std::trunc(hold / 60.0));
        command(QStringLiteral("Start Vuve Vurer (%1m)").arg(minutes), &MenuBarController::startSafeCarry,
                Qt::CTRL | Qt::Key_K);
    }
    menu->addSeparator();
    command(enabled ? QStringLiteral("Pause Watcher") : QStringLiteral("Resume Watcher"),
            &MenuBarController::toggleEnabled, Qt::CTRL | Qt::Key_P);
    command(QStringLiteral("Settings..."), &MenuBarController::openSettings, Qt::CTRL | Qt::Key_Comma);
    command(QStringLiteral("Receipts..."), &MenuBarController::openDashboard, Qt::CTRL | Qt::Key_D);
    menu->addSeparator();
    command(QStringLiteral("Eye Break (1 min)"), &MenuBarController::startEyeExercise);
    menu->addSeparator();
    command(QStringLiteral("Permissions: ") + (permissions_.accessibilityGranted()
                                                   ? QStringLiteral("ready")
                                                   : QStringLiteral("needs setup")),
            &MenuBarController::openSettings);
    if (store_.mcpEnabled()) {
        info(localApiLine(store_.mcpPort(), localApi_ ? localApi_() : std::nullopt));
    }
    menu->addSeparator();
    command(QStringLiteral("Quit Perchwell"), &MenuBarController::quit, Qt::CTRL | Qt::Key_Q);
    return menu;
}

void MenuBarController::installMenu(QMenu* menu) {
    std::unique_ptr<QMenu> old = std::move(menu_);
    menu_.reset(menu);
    if (item_) {
        item_->setContextMenu(menu_.get());
    }
    if (old) {
        // The old menu may be the one whose action is running right now.
        old.release()->deleteLater();
    }
}

void MenuBarController::rebuild() {
    refreshButton();
    installMenu(buildMenu());
}

void MenuBarController::scheduleRebuild() {
    if (rebuildScheduled_) {
        return;
    }
    rebuildScheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        rebuildScheduled_ = false;
        rebuild();
    });
}

void MenuBarController::observeForMenuRebuild() {
    // The signals carry later assignments only, so the current values are skipped.
    connect(&store_, &SettingsStore::enabledChanged, this, &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::mcpEnabledChanged, this, &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::mcpPortChanged, this, &MenuBarController::scheduleRebuild);
    connect(&permissions_, &PermissionsManager::accessibilityGrantedChanged, this,
            &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveChanged, this, &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveActiveChanged, this, &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveClosedLidActiveChanged, this,
            &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveClosedLidModeChanged, this,
            &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveHoldSecondsChanged, this,
            &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveReasonChanged, this, &MenuBarController::scheduleRebuild);
    connect(&store_, &SettingsStore::agentKeepaliveReleaseAtChanged, this,
            &MenuBarController::scheduleRebuild);
}

bool MenuBarController::onMainThread(const char* action) const {
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
        return true;
    }
    AppLogger("menu").error(std::string(action) + " called off the main thread; ignored");
    return false;
}

void MenuBarController::toggleEnabled() {
    if (!onMainThread("toggleEnabled")) {
        return;
    }
    const bool enabled = !store_.enabled();
    if (coordinator_) {
        // Writes the setting and shows the state with the coordinator's log.
        coordinator_->setEnabled(enabled);
    } else {
        store_.setEnabled(enabled);
    }
    // Shown at once, not on the next turn of the event loop.
    rebuild();
}

void MenuBarController::openSettings() {
    if (onMainThread("openSettings") && onOpenSettings) {
        onOpenSettings();
    }
}

void MenuBarController::openDashboard() {
    if (onMainThread("openDashboard") && onOpenDashboard) {
        onOpenDashboard();
    }
}

void MenuBarController::startEyeExercise() {
    if (onMainThread("startEyeExercise") && onStartEyeExercise) {
        onStartEyeExercise();
    }
}

void MenuBarController::startSafeCarry() {
    if (onMainThread("startSafeCarry")) {
        NotificationBus::shared().post(NotificationBus::agentKeepaliveStartRequested);
    }
}

void MenuBarController::stopSafeCarry() {
    if (onMainThread("stopSafeCarry")) {
        NotificationBus::shared().post(NotificationBus::agentKeepaliveStopRequested);
    }
}

void MenuBarController::quit() {
    if (onMainThread("quit") && onQuit) {
        onQuit();
    }
}

} // namespace perchwell
