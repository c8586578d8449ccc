#include "kit/TextFileLoader.h"
#include "support/WrittenFile.h"

#include <QTemporaryDir>

#include <sys/stat.h>
#include <QtTest/QTest>

class TextFileLoaderTest : public QObject {
    Q_OBJECT
private slots:
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty file gives empty text") << QByteArray() << QString("");
        QTest::newRow("UTF-8 exact") << QByteArray("{\"caf\xC3\xA9\": \"\xF0\x9F\x98\x80\"}\r\n")
                                     << QString::fromUtf8("{\"caf\xC3\xA9\": \"\xF0\x9F\x98\x80\"}\r\n");
        QTest::newRow("invalid byte replaced") << QByteArray("abc\xFF") << QString("abc") + QChar(0xFFFD);
        QTest::newRow("Latin-1 letters each replaced")
            << QByteArray("a\xE9" "b\xFC" "c") << QString("a") + QChar(0xFFFD) + "b" + QChar(0xFFFD) + "c";
        QTest::newRow("NUL bytes kept") << QByteArray("[1,\0 2]", 7) << QString("[1,") + QChar(0) + " 2]";
        QTest::newRow("truncated sequence at the end") << QByteArray("x\xE2\x82") << QString("x") + QChar(0xFFFD);
        QTest::newRow("byte-order mark dropped") << QByteArray("\xEF\xBB\xBF[1]") << QString("[1]");
        QTest::newRow("bad continuation, then ASCII") << QByteArray("\xE2\x28\xA1z")
                                                      << QString(QChar(0xFFFD)) + "(" + QChar(0xFFFD) + "z";
        QTest::newRow("four-byte character") << QByteArray("\xF0\x9F\x98\x80\xF5") << QString::fromUtf8("\xF0\x9F\x98\x80") + QChar(0xFFFD);
        QTest::newRow("encoded surrogate is refused") << QByteArray("\xED\xA0\x80") << QString(3, QChar(0xFFFD));

        // Large files are decoded in parts; characters of every length fall across the cuts.
        QByteArray large, faulty;
        QString largeText, faultyText;
        const char* pieces[] = {"plain words, ", "caf\xC3\xA9 ", "\xE6\x9D\xB1\xE4\xBA\xAC ", "\xF0\x9F\x98\x80", "\n"};
        for (int i = 0; large.size() < (3 << 20); ++i) {
            const char* piece = pieces[(i * 7 + i / 3) % 5];
            if (i == 100000) {
                faulty += "\xE2\x82";
                faultyText += QChar(0xFFFD);
            }
            large += piece;
            faulty += piece;
            largeText += QString::fromUtf8(piece);
            faultyText += QString::fromUtf8(piece);
        }
        QTest::newRow("large text of many scripts") << large << largeText;
        QTest::newRow("large text with a truncated character in the middle") << faulty << faultyText;
        QByteArray stray = large;
        stray.append("\x80");
        QTest::newRow("large text with a stray continuation byte at the end") << stray << largeText + QChar(0xFFFD);
    }
    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = writeFile(dir, QStringLiteral("doc.json"), bytes).toLocalFile();
        const auto now = TextFileLoader::loadTextFileNow(path);
        QVERIFY(now.has_value());
        QCOMPARE(*now, expected);
        QVERIFY(!now->isNull() || expected.isEmpty());
        QCOMPARE(TextFileLoader::loadTextFileNow(QUrl::fromLocalFile(path)).value_or(QStringLiteral("<nothing>")),
                 expected);
        // Read as UTF-8, the same text; well-formed bytes are kept as they are.
        const std::optional<QByteArray> utf8 = TextFileLoader::loadUTF8FileNow(QUrl::fromLocalFile(path));
        QVERIFY(utf8);
        QCOMPARE(QString::fromUtf8(*utf8), expected);
        QCOMPARE(*utf8, expected.toUtf8());
    }

    void readBytes_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("empty") << qsizetype(0);
        QTest::newRow("one byte") << qsizetype(1);
        QTest::newRow("a hundred thousand bytes") << qsizetype(100000);
        QTest::newRow("under one read step") << qsizetype(300001);
        QTest::newRow("one step exactly") << qsizetype(2 << 20);
        QTest::newRow("two steps and a few bytes") << qsizetype((4 << 20) + 7);
    }
    void readBytes()
    {
        QFETCH(qsizetype, size);
        QByteArray bytes(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char((i * 131 + i / 4099) & 0xFF);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.csv"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), size);
        f.close();
        const std::optional<QByteArray> read = TextFileLoader::readBytes(path);
        QVERIFY(read.has_value());
        QCOMPARE(read->size(), size);
        QVERIFY(*read == bytes);
    }

    void unreadable()
    {
        QTemporaryDir dir;
        QVERIFY(!TextFileLoader::loadTextFileNow(dir.filePath(QStringLiteral("missing.json"))));
        QVERIFY(!TextFileLoader::loadTextFileNow(dir.path())); // a folder
        QVERIFY(!TextFileLoader::loadTextFileNow(QUrl(QStringLiteral("https://example.com/a.json"))));
        QVERIFY(!TextFileLoader::loadTextFileNow(QString()));
        // A named pipe with no writer would block a plain read forever.
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe.md")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QVERIFY(!TextFileLoader::loadTextFileNow(QString::fromLocal8Bit(fifo)));
        QVERIFY(!TextFileLoader::loadTextFileNow(QStringLiteral("/dev/zero")));
        QVERIFY(!TextFileLoader::readBytes(QString::fromLocal8Bit(fifo)));
        QVERIFY(!TextFileLoader::readBytes(QStringLiteral("/dev/zero")));
        QVERIFY(!TextFileLoader::readBytes(dir.path()));
    }
};

QTEST_GUILESS_MAIN(TextFileLoaderTest)
#include "TextFileLoaderTest.moc"
