#pragma once

#include "platform/servicemanager.h"

#include <QStringList>

namespace casalux::test {

// A service manager that only records what it was asked; the engine runs
// from a start until a stop.
struct RecordingService final : ServiceManager {
    QStringList calls;
    bool running = false;
    QCoro::Task<bool> install() override
    {
        calls.append(QStringLiteral("install"));
        co_return true;
    }
    QCoro::Task<bool> remove() override
    {
        calls.append(QStringLiteral("remove"));
        co_return true;
    }
    QCoro::Task<bool> start() override
    {
        calls.append(QStringLiteral("start"));
        running = true;
        co_return true;
    }
    QCoro::Task<bool> stop() override
    {
        calls.append(QStringLiteral("stop"));
        running = false;
        co_return true;
    }
    QCoro::Task<QString> status() override
    {
        co_return running ? QStringLiteral("Running") : QStringLiteral("Stopped");
    }
};

} // namespace casalux::test
