#include "home/roomlist.h"
#include "platform/clock.h"
#include "simcorefixture.h"
#include "speech/phraseagent.h"
#include "speech/voicecommandhandler.h"
#include "tempfolder.h"

#ifdef CASALUX_HAVE_POCKETSPHINX
#include "speech/recognitionthread.h"
#include "speech/recognitionworker.h"
#include "speech/sphinxrecognizer.h"
#endif

#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QtTest>
#include <atomic>

using namespace casalux;

// Spoken commands for real: a synthetic voice says the phrase, pocketsphinx
// hears it, and the simulated interface switches the device.
class TestSpokenCommands : public QObject {
    Q_OBJECT

#ifdef CASALUX_HAVE_POCKETSPHINX
    test::TempFolder m_folder;
    std::unique_ptr<SphinxRecognizer> m_recognizer;
    QList<VoiceCommand> m_commands;

    // The phrase spoken by flite, as 16 kHz mono PCM with silence around it.
    QByteArray speak(const QString& phrase)
    {
        const QString wav = m_folder.file(QStringLiteral("phrase.wav"));
        const QString raw = m_folder.file(QStringLiteral("phrase.raw"));
        if (QProcess::execute(QStringLiteral("flite"),
                              {QStringLiteral("-voice"), QStringLiteral("slt"),
                               QStringLiteral("-t"), phrase, QStringLiteral("-o"), wav}) != 0)
            return {};
        if (QProcess::execute(QStringLiteral("sox"),
                              {wav, QStringLiteral("-t"), QStringLiteral("raw"),
                               QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-e"),
                               QStringLiteral("signed"), QStringLiteral("-b"), QStringLiteral("16"),
                               QStringLiteral("-c"), QStringLiteral("1"), raw,
                               QStringLiteral("pad"), QStringLiteral("0.5"),
                               QStringLiteral("1.0")}) != 0)
            return {};
        QFile file(raw);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
#endif

private Q_SLOTS:
    void initTestCase()
    {
#ifndef CASALUX_HAVE_POCKETSPHINX
        QSKIP("built without pocketsphinx (libpocketsphinx-dev, pocketsphinx-en-us): "
              "spoken commands are not tested");
#else
        if (QStandardPaths::findExecutable(QStringLiteral("flite")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("sox")).isEmpty())
            QSKIP("flite and sox are needed to speak the test phrases");
        m_recognizer = std::make_unique<SphinxRecognizer>(SphinxRecognizer::Model::installed());
        QVERIFY2(m_recognizer->ready(), qPrintable(m_recognizer->error()));
        m_folder.write(QStringLiteral("rmlst.rvf"), "Lounge~~~\r\n"
                                                    "Lounge~Lamp~A~3\r\n"
                                                    "Hall~~~\r\n"
                                                    "Hall~Light~B~5\r\n"
                                                    "Hall~Telly2~B~6\r\n");
        RoomList rooms(m_folder.path());
        rooms.loadlists();
        m_commands = VoiceCommand::forHome(rooms.records());
        QStringList leftOut;
        QVERIFY(m_recognizer->setGrammar(VoiceGrammar(m_commands), &leftOut));
        // "telly2" is no word of the dictionary: its four phrases go, the rest stay.
        QCOMPARE(leftOut.size(), 4);
#endif
    }

#ifdef CASALUX_HAVE_POCKETSPHINX
    void phrasesAreHeard_data()
    {
        QTest::addColumn<QString>("phrase");
        QTest::addColumn<QString>("command");
        QTest::newRow("cancel") << "Cancel Lounge Lamp"
                                << "off~A3";
        QTest::newRow("on") << "Hall light on"
                            << "on~B5";
        QTest::newRow("dim") << "Dim hall light"
                             << "dim~B5";
        QTest::newRow("repeat") << "Repeat command"
                                << "repeat";
    }
    void phrasesAreHeard()
    {
        QFETCH(QString, phrase);
        QFETCH(QString, command);
        const QByteArray audio = speak(phrase);
        QVERIFY(!audio.isEmpty());
        const SphinxRecognizer::Result heard = m_recognizer->decode(audio);
        QCOMPARE(VoiceGrammar(m_commands).commandFor(heard.phrase), command);
        QVERIFY2(heard.confidence >= SphinxRecognizer::minimumConfidence,
                 qPrintable(QString::number(heard.confidence)));
    }

    // The grammar holds only the home's phrases, so other speech comes out
    // as the nearest of them; its low confidence is what keeps it from
    // switching anything.
    void otherSpeechIsIgnored_data()
    {
        QTest::addColumn<QString>("speech");
        QTest::newRow("weather") << "What a lovely day it is today";
        QTest::newRow("tea") << "Do you want a cup of tea";
        QTest::newRow("news") << "And now the news at ten";
        QTest::newRow("a request in other words") << "Turn off the light in the lounge please";
    }
    void otherSpeechIsIgnored()
    {
        QFETCH(QString, speech);
        const QByteArray audio = speak(speech);
        QVERIFY(!audio.isEmpty());
        const SphinxRecognizer::Result heard = m_recognizer->decode(audio);
        QVERIFY2(heard.confidence < SphinxRecognizer::minimumConfidence,
                 qPrintable(heard.phrase + QLatin1Char(' ') + QString::number(heard.confidence)));
    }

    // As from the microphone, through the decoder's own thread: the phrase
    // comes back to this thread, queued; other speech forced into a phrase
    // comes back as ignored, below the threshold, and never as heard.
    void recognitionRunsOnItsOwnThread()
    {
        RecognitionThread recognition;
        const auto* worker = qobject_cast<const RecognitionWorker*>(recognition.worker());
        QVERIFY(worker);
        QVERIFY(worker->thread() != QThread::currentThread());
        std::atomic<QThread*> decodedOn = nullptr;
        connect(
            worker, &RecognitionWorker::heard, worker,
            [&decodedOn] { decodedOn = QThread::currentThread(); }, Qt::DirectConnection);
        QThread* receivedOn = nullptr;
        connect(&recognition, &RecognitionThread::heard, this,
                [&receivedOn] { receivedOn = QThread::currentThread(); });
        QSignalSpy ready(&recognition, &RecognitionThread::ready);
        QSignalSpy heard(&recognition, &RecognitionThread::heard);
        QSignalSpy ignored(&recognition, &RecognitionThread::ignored);

        recognition.start();
        QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 30000);
        QVERIFY2(ready.first().at(0).toBool(), qPrintable(ready.first().at(1).toString()));
        recognition.setGrammar(VoiceGrammar(m_commands));
        const QByteArray audio = speak(QStringLiteral("Cancel Lounge Lamp")) +
                                 speak(QStringLiteral("What a lovely day it is today"));
        for (qsizetype at = 0; at < audio.size(); at += 3200)
            recognition.feed(audio.mid(at, 3200));
        QTRY_COMPARE_WITH_TIMEOUT(heard.size() + ignored.size(), 2, 30000);
        QCOMPARE(heard.size(), 1);
        QCOMPARE(heard.first().at(0).toString(), QStringLiteral("cancel lounge lamp"));
        QVERIFY(!ignored.first().at(0).toString().isEmpty());
        QVERIFY(ignored.first().at(1).toDouble() < SphinxRecognizer::minimumConfidence);
        QCOMPARE(decodedOn.load(), worker->thread());
        QCOMPARE(receivedOn, QThread::currentThread());
    }

    // As from a microphone: the sound in small pieces, speech found in it.
    void streamedSpeechIsHeardOnce()
    {
        const QByteArray audio = speak(QStringLiteral("Cancel Lounge Lamp"));
        int starts = 0;
        QStringList phrases;
        for (qsizetype at = 0; at < audio.size(); at += 3201) { // odd sizes on purpose
            const auto heard = m_recognizer->feed(audio.mid(at, 3201));
            starts += heard.speechStarted ? 1 : 0;
            if (heard.result)
                phrases.append(heard.result->phrase);
        }
        QCOMPARE(starts, 1);
        QCOMPARE(phrases.size(), 1);
        QCOMPARE(VoiceGrammar(m_commands).commandFor(phrases.first()), QStringLiteral("off~A3"));
    }

    void spokenCancelSwitchesTheSimulatedDevice()
    {
        Clock::instance().start(QDateTime::currentDateTime(), 20);
        test::SimCoreFixture fx;
        fx.loadList(m_folder.read(QStringLiteral("rmlst.rvf")));
        QVERIFY(fx.start(9, 20));
        test::SimProcess& sim = fx.sim;
        sim.command(QStringLiteral("A3 ON"));
        QTRY_VERIFY(sim.lines().join(QLatin1Char('\n')).contains(QLatin1String("REMOTE A3 ON")));

        Cm11aControl& control = fx.control;
        DeviceCommands& commands = fx.core.commands;
        PhraseAgent agent({QStringLiteral(":/characters")});
        VoiceCommandHandler handler(agent, fx.settings, commands, fx.core.deviceStatus,
                                    fx.core.rooms, fx.status);
        QVERIFY(handler.initagent());
        handler.registerCommands();

        const QString heard =
            m_recognizer->decode(speak(QStringLiteral("Cancel Lounge Lamp"))).phrase;
        QCOMPARE(agent.hear(heard), QStringLiteral("off~A3"));
        QTRY_VERIFY2(sim.lines().join(QLatin1Char('\n')).contains(QLatin1String("A3 OFF")),
                     qPrintable(sim.lines().join(QLatin1Char('\n'))));
        // The command ends with its pause; let it finish before the
        // interface and the handler go away.
        QTRY_VERIFY(!commands.commandInProgress());
        control.close();
        qunsetenv("CASALUX_SERIAL_9");
        Clock::instance().useSystemTime();
    }
#endif
};

QTEST_GUILESS_MAIN(TestSpokenCommands)
#include "tst_spokencommands.moc"
