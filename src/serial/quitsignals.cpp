#include "serial/quitsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_signal = 0;
int g_pipe[2] = {-1, -1};

extern "C" void onQuitSignal(int signal)
{
    const int saved = errno;
    g_signal = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

bool InstallQuitSignals()
{
    if (g_pipe[0] >= 0)
        return true;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }
    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int signal : {SIGINT, SIGTERM})
        ok = ::sigaction(signal, &action, nullptr) == 0 && ok;
    return ok;
}

int QuitSignal()
{
    return g_signal;
}

bool CallOnQuitSignals(QObject *context, std::function<void(int signal)> handler)
{
    if (!InstallQuitSignals())
        return false;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        handler(QuitSignal());
    });
    return true;
}

void QuitOnSignals(QCoreApplication &app)
{
    CallOnQuitSignals(&app, [](int signal) { QCoreApplication::exit(128 + signal); });
}
