#pragma once

#include <QObject>
#include <QString>

#include <qcoro/qcorotask.h>

#include <utility>

namespace casalux {

// What the programs ask of an X10 power-line interface, and nothing more.
// Set the port, open, then send one command at a time; close before the
// program exits or hands the port to the other program.
//
// open() and send() are coroutines: talking to the interface takes time on
// the wire, and the programs keep serving timers and web requests meanwhile.
class InterfaceControl : public QObject {
    Q_OBJECT

public:
    // Results of open().
    static constexpr int Ready = 0;        // the interface answered
    static constexpr int PortUnusable = 1; // the port cannot be used at all
    static constexpr int NoAnswer = 2;     // opened, nothing answered yet; open() may be tried again

    // X10 function codes used by the programs.
    static constexpr int On = 2;
    static constexpr int Off = 3;
    static constexpr int Dim = 4;
    static constexpr int Bright = 5;

    // The level argument of plain commands.
    static constexpr double PlainLevel = 20;

    using QObject::QObject;

    virtual void setPort(int port)
    {
        m_port = port;
        m_path.clear();
    }
    int port() const { return m_port; }
    // A device named by its path (a /dev/serial/by-id/... link, which is
    // what a Linux user knows) rather than by a port number; port() is 0.
    void setDevicePath(const QString& path)
    {
        setPort(0);
        m_path = path;
    }
    // The device to open: the path given, or the one the number maps to.
    QString devicePath() const;
    // The port as stored and shown: its number, or the path given.
    QString portText() const { return m_path.isEmpty() ? QString::number(m_port) : m_path; }

    virtual QCoro::Task<int> open() = 0;

    // house "A".."P"; unit "1".."16"; function one of the codes above; level
    // 20 for plain commands, or in the dimming sequence 0 (leading On), 100
    // (Bright to full) or the dim amount in percent. The two last arguments
    // are always 20 and 50. Returns once the interface has taken the command
    // (or given up on it): true when it was carried out. After false,
    // failureText() says why.
    virtual QCoro::Task<bool> send(QString house, QString unit, int function, double level,
                                   int arg5, int arg6) = 0;

    virtual bool close() = 0;

    // Set once after a successful open.
    void setNumericOption(int value) { m_numericOption = value; }
    int numericOption() const { return m_numericOption; }
    void setOwnerName(const QString& name) { m_ownerName = name; }
    QString ownerName() const { return m_ownerName; }

    // Why the last send or open failed, in words that finish a status line
    // ("the X10 interface did not answer").
    QString failureText() const { return m_failureText; }

    // The interface went away (port gone, or it stopped answering) while the
    // program held it, and has not answered again since. send() fails at
    // once meanwhile. close() ends this state without a found().
    bool isLost() const { return m_isLost; }

    // The failure text while the interface is lost.
    static QString lostText()
    {
        return QStringLiteral("the X10 interface is not connected; looking for it again");
    }

Q_SIGNALS:
    // Traffic seen on the power line: the address as text ("B12"), the house
    // code, the X10 function code and two values the programs do not use
    // (the driver passes the dim/bright level in percent as the first).
    void traffic(const QString& address, const QString& house, int function, int value4,
                 int value5);

    // The interface was lost, and answers again on the same port.
    void lost();
    void found();

protected:
    void setFailureText(const QString& text) { m_failureText = text; }
    void reportLost()
    {
        setFailureText(lostText());
        if (std::exchange(m_isLost, true))
            return;
        Q_EMIT lost();
    }
    void reportFound()
    {
        if (std::exchange(m_isLost, false))
            Q_EMIT found();
    }
    // The program let go of the port: nobody looks for the interface any more.
    void forgetLost() { m_isLost = false; }

private:
    QString m_failureText;
    int m_port = 0;
    QString m_path;
    int m_numericOption = 0;
    QString m_ownerName;
    bool m_isLost = false;
};

} // namespace casalux
