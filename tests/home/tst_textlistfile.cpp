#include "home/textlistfile.h"
#include "tempfolder.h"

#include <QtTest>
#include <cstdio>

using namespace casalux;

class TestTextListFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsCrLfAndBareLf()
    {
        test::TempFolder folder;
        folder.write(QStringLiteral("a.rvf"), "one\r\ntwo\nthree");
        QCOMPARE(TextListFile::readLines(folder.file(QStringLiteral("a.rvf"))),
                 QStringList({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")}));
        QVERIFY(TextListFile::readLines(folder.file(QStringLiteral("none.rvf"))).isEmpty());
    }

    void appendClosesAnUnfinishedLine()
    {
        test::TempFolder folder;
        folder.write(QStringLiteral("a.rvf"), "Hall~~~"); // cut short by a crash
        QVERIFY(TextListFile::append(folder.file(QStringLiteral("a.rvf")), QStringLiteral("Den~~~")));
        QCOMPARE(folder.read(QStringLiteral("a.rvf")), QByteArray("Hall~~~\r\nDen~~~\r\n"));
    }

    void latin1RoundTrip()
    {
        test::TempFolder folder;
        const QString name = QStringLiteral("Caf\u00e9 K\u00fcche~~~");
        QVERIFY(TextListFile::isStorable(name));
        QVERIFY(!TextListFile::isStorable(QStringLiteral("\u20ac")));
        QVERIFY(TextListFile::append(folder.file(QStringLiteral("a.rvf")), name));
        QCOMPARE(folder.read(QStringLiteral("a.rvf")), QByteArray("Caf\xe9 K\xfc" "che~~~\r\n"));
        QCOMPARE(TextListFile::readLines(folder.file(QStringLiteral("a.rvf"))), QStringList{name});
    }

    void replaceKeepsEmptyLinesAndRemovesStaleTemp()
    {
        test::TempFolder folder;
        folder.write(QStringLiteral("a.rvf"), "old\r\n");
        folder.write(QStringLiteral("t.tmp"), "stale leftovers\r\n");
        QVERIFY(TextListFile::replace(folder.file(QStringLiteral("a.rvf")),
                                      folder.file(QStringLiteral("t.tmp")),
                                      {QStringLiteral("x"), QString(), QStringLiteral("y")}));
        QCOMPARE(folder.read(QStringLiteral("a.rvf")), QByteArray("x\r\n\r\ny\r\n"));
        QVERIFY(!folder.exists(QStringLiteral("t.tmp")));
    }

    // Several lists as one change: when the second cannot be put in place,
    // the first, already replaced, is put back and no temporary file stays.
    void replaceAllPutsBackWhatItReplaced()
    {
        test::TempFolder folder;
        folder.write(QStringLiteral("a.rvf"), "a\r\n");
        folder.write(QStringLiteral("b.rvf"), "b\r\n");
        const QString b = folder.file(QStringLiteral("b.rvf"));
        TextListFile::setRenameForTesting([b](const QString& from, const QString& to) {
            return to != b && ::rename(QFile::encodeName(from), QFile::encodeName(to)) == 0;
        });
        QString error;
        const bool replaced = TextListFile::replaceAll(
            {{folder.file(QStringLiteral("a.rvf")), folder.file(QStringLiteral("a.tmp")), {"A"}},
             {b, folder.file(QStringLiteral("b.tmp")), {"B"}}},
            &error);
        TextListFile::setRenameForTesting({});
        QVERIFY(!replaced);
        QVERIFY2(error.startsWith(QStringLiteral("Cannot replace")), qPrintable(error));
        QCOMPARE(folder.read(QStringLiteral("a.rvf")), QByteArray("a\r\n"));
        QCOMPARE(folder.read(QStringLiteral("b.rvf")), QByteArray("b\r\n"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
    }

    void appendToUnwritablePathFails()
    {
        test::TempFolder folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("a.rvf")));
        QString error;
        QVERIFY(!TextListFile::append(folder.file(QStringLiteral("a.rvf")), QStringLiteral("x"), &error));
        QVERIFY(error.startsWith(QStringLiteral("Cannot open")));
    }
};

QTEST_GUILESS_MAIN(TestTextListFile)
#include "tst_textlistfile.moc"
