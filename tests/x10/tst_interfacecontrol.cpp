#include "scriptedinterface.h"
#include "x10/nullinterface.h"

#include <QSignalSpy>
#include <QtTest>

using namespace casalux;

class TestInterfaceControl : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nullInterfaceReportsNoInterface()
    {
        NullInterface control;
        control.setPort(3);
        QCOMPARE(QCoro::waitFor(control.open()), InterfaceControl::PortUnusable);
        QCOMPARE(QCoro::waitFor(control.send(QStringLiteral("A"), QStringLiteral("3"),
                                             InterfaceControl::On, 20, 20, 50)),
                 false);
        QVERIFY(control.close());
    }

    void scriptedInterfaceRecordsAndAnswers()
    {
        test::ScriptedInterface control;
        control.queueOpenAnswers({2, 2, 0});
        control.setPort(4);
        QCOMPARE(QCoro::waitFor(control.open()), 2);
        QCOMPARE(QCoro::waitFor(control.open()), 2);
        QCOMPARE(QCoro::waitFor(control.open()), 0);
        QCOMPARE(control.openedPorts, QList<int>({4, 4, 4}));

        QCoro::waitFor(control.send(QStringLiteral("A"), QStringLiteral("3"), InterfaceControl::Dim,
                                    70, 20, 50));
        QCOMPARE(control.sent.size(), 1);
        QCOMPARE(control.sent[0].text(), QStringLiteral("A3 4 70"));
        QCOMPARE(control.sent[0].arg6, 50);

        QSignalSpy spy(&control, &InterfaceControl::traffic);
        control.injectTraffic(QStringLiteral("B12"), InterfaceControl::Off);
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy[0][0].toString(), QStringLiteral("B12"));
        QCOMPARE(spy[0][1].toString(), QStringLiteral("B"));
        QCOMPARE(spy[0][2].toInt(), InterfaceControl::Off);
    }
};

QTEST_GUILESS_MAIN(TestInterfaceControl)
#include "tst_interfacecontrol.moc"
