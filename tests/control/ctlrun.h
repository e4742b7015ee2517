#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace casalux::test {

// One run of the real casaluxctl. The test's event loop keeps running
// while it waits, so a server in the test's own process can answer.
struct CtlRun {
    int exitCode = -1;
    QString out;
    QString err;
    bool finished = false;

    // The path of the real casaluxctl, for a test that runs it by hand.
    static QString program();
    static CtlRun run(const QStringList& arguments, const QProcessEnvironment& environment,
                      int timeoutMs = 60000);
    // What the failure messages of a test print.
    QString describe() const;
};

} // namespace casalux::test
