#include "services/QuitOnSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "services/Log.h"

namespace quorvel {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int pipeFds[2] = {-1, -1};  // written by the handler, read on the main thread

void onSignalHandler(int signal) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    // The next one of the same kind is not caught: a stuck loop can still be ended.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    errno = savedErrno;
}

void setHandler(void (*handler)(int)) {
    for (int signal : kSignals) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

QuitOnSignals::QuitOnSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] < 0 && ::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::error("signal pipe: " + std::string(std::strerror(errno)));
        return;
    }
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignals::onSignal);
    setHandler(onSignalHandler);
}

QuitOnSignals::~QuitOnSignals() {
    if (notifier_) setHandler(SIG_DFL);
}

void QuitOnSignals::onSignal() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        received_ = byte;
        Log::info("signal " + std::to_string(byte) + " — quitting");
    }
    QCoreApplication::quit();
}

}  // namespace quorvel
