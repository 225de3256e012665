#pragma once

#include <QCoreApplication>

#include <chrono>
#include <future>
#include <thread>

// Runs a blocking device-tool call on a worker thread while this (the GUI) thread runs the
// event loop, as the progress dialogs do: replies reach the tool only through that loop.
// Waits at most limitMs for the result; the worker is joined either way.
template <typename F>
auto runOnWorker(F function, int limitMs = 15000) -> decltype(function())
{
    std::packaged_task<decltype(function())()> task(std::move(function));
    auto result = task.get_future();
    std::thread worker(std::move(task));
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (result.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
           std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    worker.join();
    return result.get();
}

// Runs the event loop until the condition holds or limitMs passed; the condition's value.
template <typename F>
bool pumpUntil(F condition, int limitMs = 5000)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
