// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Ringpost.h"

#include "platform/gui/Help.h"
#include "platform/settings/RegistryFile.h"
#include "ui/FocusStyle.h"
#include "ui/MessageBoxes.h"
#include "ui/RingpostForm.h"
#include "ui/SecondCopy.h"
#include "ui/StartupDisplay.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace rp {

namespace {

// An error that escapes an event handler is reported with its text, and the
// event loop goes on.
class TRingpostApplication : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            QMessageBox::critical(activeWindow(), ApplicationTitle(applicationFilePath()),
                                  QString::fromLocal8Bit(error.what()));
            return false;
        }
    }
};

bool HasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// In a Wayland session the window runs on Xwayland when there is one: a native
// Wayland window can neither learn nor choose its place on the screen, so the
// saved position would be lost at every hide, and the desktop would not tell a
// minimised window from a shown one. The input state does not depend on it: it
// asks the compositor either way. QT_QPA_PLATFORM given by the user wins.
void PreferXcbUnderWayland() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("DISPLAY") &&
        (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
         qgetenv("XDG_SESSION_TYPE") == "wayland"))
        qputenv("QT_QPA_PLATFORM", "xcb");
}

// A logout that ends the process with SIGTERM (or a closed terminal's SIGHUP) is a
// session end: the program closes without asking and the engine saves its files.
int terminationPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
}

void EndSessionOnTermination(TRingpostForm& form) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, terminationPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, &form);
    QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form, notifier] {
        char byte;
        [[maybe_unused]] const ssize_t read = ::read(terminationPipe[0], &byte, 1);
        notifier->setEnabled(false);
        form.EndSession();
    });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

QStringList Arguments(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// Status 1 when the program cannot have a window at all, as when no display is set.
bool ReportDisplayProblem(int argc, char* argv[]) {
    if (!HasDisplay()) {
        std::fprintf(stderr, "Ringpost needs a desktop, but no display is set (DISPLAY or "
                             "WAYLAND_DISPLAY).\nStart it from a desktop session, or give it "
                             "a virtual display: xvfb-run -a ringpost\n");
        return true;
    }
    const QString problem = StartupDisplayProblem(Arguments(argc, argv), ProcessEnvironment());
    if (problem.isEmpty())
        return false;
    std::fprintf(stderr, "%s\n", qPrintable(problem));
    return true;
}

// Listens for later starts in the same folder, which bring this window forward.
std::unique_ptr<TShowRequestServer> OpenTheDoor(const TInstanceLock& lock, TRingpostForm& form) {
    // Without the lock a socket found there may be another copy's: leave it.
    if (lock.State() != TInstanceLock::TState::Held)
        return nullptr;
    auto server = std::make_unique<TShowRequestServer>(ShowSocketPath(lock.Folder()),
                                                       [&form] { form.BringForward(); });
    if (!server->Listening())
        std::fprintf(stderr, "ringpost: %s; a second start will not bring this window forward.\n",
                     qPrintable(server->Problem()));
    return server;
}

void FollowTheSession(TRingpostApplication& app, TRingpostForm& form) {
    // The session manager asks first; the program agrees and closes without a question.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form](QSessionManager&) { form.QueryEndSession(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.EndSession(); });
    EndSessionOnTermination(form);
}

} // namespace

int RunRingpost(int argc, char* argv[]) {
    // Before the display check, so that it checks the display Qt will use.
    PreferXcbUnderWayland();
    if (ReportDisplayProblem(argc, argv))
        return 1;
    TRingpostApplication app(argc, argv);
    // No application display name: on X11 Qt would append it to every other
    // window's caption ("Ringpost Configuration Wizard — Ringpost").
    // Hidden in the tray, the program must outlive its last closed box or wizard.
    app.setQuitOnLastWindowClosed(false);
    UseVisibleFocusFrame();

    // Held until the process ends: the state files in the data folder are this copy's.
    const TInstanceLock folderLock(QDir::currentPath());
    TQtMessageBoxes boxes;
    const auto askRunningCopy = [&folderLock] {
        return AskToShow(ShowSocketPath(folderLock.Folder()));
    };
    switch (DecideStart(folderLock, boxes, askRunningCopy)) {
    case TStartDecision::Start:
        break;
    case TStartDecision::BroughtForward:
        return 0; // what the user asked for: the window is there
    case TStartDecision::Refused:
        return 1;
    }

    TRegistryFile registry;
    TRingpostDeps deps;
    deps.Registry = &registry;
    deps.Help = std::make_shared<THelpWindow>(QString::fromLatin1(HelpFileName));
    deps.CommandLine = ProcessCommandLine();
    TRingpostForm form(std::move(deps));
    // Not quit(): that would ask every other window (an open wizard) to close first.
    QObject::connect(
        &form, &TRingpostForm::Closed, &app, [] { QCoreApplication::exit(0); },
        Qt::QueuedConnection);
    FollowTheSession(app, form);
    const auto door = OpenTheDoor(folderLock, form);

    form.Create();
    form.show();
    return app.exec();
}

} // namespace rp
