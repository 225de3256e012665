#pragma once

#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <future>

// Runs f on a worker while the GUI thread sleeps in its event loop (a timer wakes it to look at
// the worker): replies reach the device tool only through that loop, and the GUI thread's CPU is
// then what the frames cost it.
template <typename F>
auto onWorker(F f) -> decltype(f())
{
    auto result = std::async(std::launch::async, std::move(f));
    QTimer tick;
    tick.start(10);
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return result.get();
}
