#include "QuitOnSignal.h"

#include "RDLog.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int g_pipe[2] = {-1, -1};

void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a wake-up; the byte may be dropped.
    [[maybe_unused]] const ssize_t written = write(g_pipe[1], &byte, 1);
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

} // namespace

QuitOnSignal::QuitOnSignal(QObject* parent)
    : QObject(parent)
{
    if (g_pipe[0] >= 0 || pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        RDLOG("Cannot make the signal pipe: SIGTERM and SIGINT end the process at once");
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { onReadable(); });
    setHandler(onSignal);
    m_installed = true;
}

QuitOnSignal::~QuitOnSignal()
{
    if (!m_installed)
        return;
    setHandler(SIG_DFL);
    m_notifier.reset();
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void QuitOnSignal::onReadable()
{
    unsigned char byte = 0;
    while (read(g_pipe[0], &byte, 1) == 1)
        m_lastSignal = byte;
    RDLOG("Signal %d: quitting", m_lastSignal);
    QCoreApplication::quit();
}
