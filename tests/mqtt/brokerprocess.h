#pragma once

#include "tempfolder.h"

#include <QProcess>
#include <QString>

namespace casalux::test {

// A real mosquitto broker for one test: its own configuration in a
// temporary folder, listening on a free port of 127.0.0.1 only, anonymous,
// nothing kept on disk (so retained messages go with a restart).
class BrokerProcess final {
public:
    static QString program() { return QStringLiteral("/usr/sbin/mosquitto"); }
    static bool installed();
    // The message a test skips with when the broker is not installed.
    static const char* missing()
    {
        return "/usr/sbin/mosquitto is missing: install the mosquitto package "
               "(scripts/setup.sh does) to run the MQTT tests";
    }

    BrokerProcess();
    ~BrokerProcess();

    // Starts (or starts again, on the same port) and waits until it listens.
    bool start();
    // Ends it at once, as a crash or a pulled cable would.
    void kill();
    quint16 port() const { return m_port; }
    // Everything it has logged so far, over all its starts.
    QString log();
    // A client whose id starts so has left with a DISCONNECT of its own,
    // not by a dropped socket (which would have the broker send its will).
    bool leftCleanly(const QString& client);
    // The log lines that name a client, for failure messages.
    QString linesAbout(const QString& client);

private:
    TempFolder m_folder;
    QProcess m_process;
    QByteArray m_log;
    quint16 m_port;
};

} // namespace casalux::test
