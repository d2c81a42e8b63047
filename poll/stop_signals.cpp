#include "poll/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace rio::poll {

namespace {

// The pipe's ends; the write end is all the handler touches.
int gPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    // Non-blocking: with the pipe full a stop is already pending.
    [[maybe_unused]] const auto written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

void handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signal, &action, nullptr);
}

bool ignored(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "stop signal pipe");
    m_notifier = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &StopSignals::drain);
    handle(SIGINT, onStopSignal);
    handle(SIGTERM, onStopSignal);
    m_hangUpHandled = !ignored(SIGHUP);
    if (m_hangUpHandled)
        handle(SIGHUP, onStopSignal);
}

StopSignals::~StopSignals() {
    handle(SIGINT, SIG_DFL);
    handle(SIGTERM, SIG_DFL);
    if (m_hangUpHandled)
        handle(SIGHUP, SIG_DFL);
    m_notifier.reset();
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

QString StopSignals::name() const {
    switch (m_signal) {
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return {};
    }
}

bool StopSignals::waitForStop(std::chrono::milliseconds time) {
    if (!requested()) {
        // A signal during the poll ends it early (EINTR); the pipe says which.
        pollfd entry{gPipe[0], POLLIN, 0};
        [[maybe_unused]] const int ready = ::poll(&entry, 1, static_cast<int>(time.count()));
        drain();
    }
    return requested();
}

void StopSignals::drain() {
    char byte = 0;
    const bool first = m_signal == 0;
    while (::read(gPipe[0], &byte, 1) == 1)
        if (m_signal == 0)
            m_signal = static_cast<unsigned char>(byte);
    if (first && m_signal != 0)
        emit stopRequested();
}

} // namespace rio::poll
