#pragma once

#include <QDateTime>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QMenu;
class QSystemTrayIcon;

namespace perchwell {

class Coordinator;
class PermissionsManager;
class SettingsStore;

// What the menu shows of the local API server.
struct LocalApiStatus {
    bool isListening = false;
    QString lastError; // null: none
};

// The tray icon and its menu: the watcher and keepalive state, the keepalive command,
// pause/resume, shortcuts to the windows, the permission and local API state, Quit.
// The menu is rebuilt from scratch whenever a value it shows changes. Main thread only.
class MenuBarController : public QObject {
    Q_OBJECT
public:
    // The server's published values; nothing while there is no server object.
    using LocalApiProbe = std::function<std::optional<LocalApiStatus>()>;

    MenuBarController(SettingsStore& store, PermissionsManager& permissions, Coordinator* coordinator,
                      QObject* parent = nullptr);
    ~MenuBarController() override;

    std::function<void()> onOpenSettings;
    std::function<void()> onOpenDashboard;
    std::function<void()> onStartEyeExercise;
    std::function<void()> onQuit;

    // The delegate hands over the server's values; it also connects the server's change
    // signals to scheduleRebuild().
    void setLocalApi(LocalApiProbe probe) { localApi_ = std::move(probe); }
    // Why the keepalive cannot hold on this system (null: it can). The delegate also
    // connects the keepalive's change signal to scheduleRebuild().
    using KeepaliveAvailabilityProbe = std::function<QString()>;
    void setKeepaliveAvailability(KeepaliveAvailabilityProbe probe) {
        keepaliveUnavailable_ = std::move(probe);
    }

    // Creates the tray item with the eye symbol, tool tip "Perchwell".
    void configureButton();
    // "eye.fill" while the watcher is enabled, "eye.slash" while paused.
    void refreshButton();
    // A new menu; the caller owns it.
    QMenu* buildMenu();
    void observeForMenuRebuild();

    QSystemTrayIcon* item() const { return item_.get(); }
    QMenu* currentMenu() const { return menu_.get(); }
    // The symbol the button shows: "eye.fill" or "eye.slash".
    QString buttonSymbol() const { return buttonSymbol_; }

    static QIcon symbolIcon(const QString& symbol);
    // Item 2 and item 9 of the menu, from the values they show.
    static QString keepaliveTitle(const SettingsStore& store, const QString& unavailableReason = {});
    static QString localApiLine(qint64 port, const std::optional<LocalApiStatus>& server);
    static QString formatTime(const QDateTime& time);

public slots:
    void toggleEnabled();
    void openSettings();
    void openDashboard();
    void startEyeExercise();
    void startSafeCarry();
    void stopSafeCarry();
    void quit();
    // Coalesces changes of one event-loop turn into one rebuild.
    void scheduleRebuild();
    // Refreshes the button and gives the item a freshly built menu, now.
    void rebuild();

private:
    void installMenu(QMenu* menu);
    bool onMainThread(const char* action) const;

    SettingsStore& store_;
    PermissionsManager& permissions_;
    QPointer<Coordinator> coordinator_;
    LocalApiProbe localApi_;
    KeepaliveAvailabilityProbe keepaliveUnavailable_;
    std::unique_ptr<QSystemTrayIcon> item_;
    std::unique_ptr<QMenu> menu_;
    QString buttonSymbol_ = QStringLiteral("eye.fill");
    bool rebuildScheduled_ = false;
};

} // namespace perchwell
