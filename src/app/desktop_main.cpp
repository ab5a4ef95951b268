// The application role's entry, loaded at run time by `perchwell` so that the hook
// role never maps Qt.
#include "app/app_delegate.h"
#include "app/quit_signal_handler.h"
#include "common/system_log.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

namespace perchwell {
namespace {

bool hasArgument(int argc, char** argv, const char* wanted) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == wanted) {
            return true;
        }
    }
    return false;
}

bool environmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// A QApplication without a display aborts. A platform plugin that needs none
// (offscreen, minimal, vnc, ...) counts as one; xcb and wayland need their server.
bool displayAvailable() {
    if (environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY")) {
        return true;
    }
    const std::string_view platform = environmentSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    return !platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0;
}

int runDesktop(int argc, char** argv) {
    // A client that vanishes mid-answer must never end the application.
    std::signal(SIGPIPE, SIG_IGN);

    LaunchOptions options;
    options.arguments.assign(argv, argv + argc);
    options.headless = hasArgument(argc, argv, "--headless");
    if (!options.headless && !displayAvailable()) {
        const char* line = "[Perchwell] no display (DISPLAY and WAYLAND_DISPLAY unset) — running headless";
        systemlog::write(line);
        std::fprintf(stderr, "%s\n", line);
        options.headless = true;
    }

    std::unique_ptr<QCoreApplication> app;
    if (options.headless) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        auto gui = std::make_unique<QApplication>(argc, argv);
        // A tray application keeps running when its last window closes.
        gui->setQuitOnLastWindowClosed(false);
        app = std::move(gui);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Perchwell"));
    QCoreApplication::setOrganizationName(QStringLiteral("Brisklane"));

    QuitSignalHandler quitSignals;
    QObject::connect(&quitSignals, &QuitSignalHandler::quitRequested, app.get(), [](int signalNumber) {
        systemlog::write("[Perchwell] quitting on signal " + std::to_string(signalNumber));
        QCoreApplication::quit();
    });

    AppDelegate delegate(std::move(options));
    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    const int status = app->exec();
    delegate.applicationWillTerminate();
    return status;
}

} // namespace
} // namespace perchwell

// Plain C on purpose: `perchwell` carries its own static C++ runtime, so no C++ type
// and no exception may cross into it.
extern "C" __attribute__((visibility("default"))) int perchwell_desktop_main(int argc, char** argv) noexcept {
    try {
        return perchwell::runDesktop(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "perchwell: the application failed: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "perchwell: the application failed\n");
    }
    return 1;
}
