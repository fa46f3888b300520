#include "terminationhandler.h"

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace {

int g_signalFds[2] = {-1, -1};

void onPosixSignal(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_signalFds[0], &byte, 1);
}

}  // namespace

TerminationHandler::TerminationHandler(QObject *parent) : QObject(parent) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0) {
        return;
    }
    notifier_ = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationHandler::onSignalReady);

    struct sigaction action {};
    action.sa_handler = onPosixSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &action, nullptr);
    }
}

TerminationHandler::~TerminationHandler() {
    if (g_signalFds[0] < 0) {
        return;
    }
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        std::signal(sig, SIG_DFL);
    }
    delete notifier_;
    notifier_ = nullptr;
    ::close(g_signalFds[0]);
    ::close(g_signalFds[1]);
    g_signalFds[0] = g_signalFds[1] = -1;
}

void TerminationHandler::onSignalReady() {
    char byte = 0;
    [[maybe_unused]] ssize_t got = ::read(g_signalFds[1], &byte, 1);
    QCoreApplication::quit();
}
