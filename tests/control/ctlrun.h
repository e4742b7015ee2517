#pragma once

#include <QByteArray>
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

    // `input` is written to its standard input, which is then closed.
    static CtlRun run(const QStringList& arguments, const QProcessEnvironment& environment,
                      int timeoutMs = 60000, const QByteArray& input = {});
    // The program's path.
    static QString program();
    // What the failure messages of a test print.
    QString describe() const;
};

} // namespace casalux::test
