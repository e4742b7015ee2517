#pragma once

#include "platform/servicemanager.h"

#include <QStringList>

namespace casalux::test {

// A service manager that only records what it was asked, and reports the
// engine as stopped.
struct RecordingService final : ServiceManager {
    QStringList calls;
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
        co_return true;
    }
    QCoro::Task<bool> stop() override
    {
        calls.append(QStringLiteral("stop"));
        co_return true;
    }
    QCoro::Task<QString> status() override { co_return QStringLiteral("Stopped"); }
};

} // namespace casalux::test
