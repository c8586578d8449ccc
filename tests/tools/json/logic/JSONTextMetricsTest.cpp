#include "tools/json/JSONTextMetrics.h"

#include <QtTest/QTest>


class JSONTextMetricsTest : public QObject {
    Q_OBJECT
private slots:
    void metrics_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("empty") << "" << qint64(0) << qint64(0);
        QTest::newRow("one letter") << "a" << qint64(1) << qint64(1);
        QTest::newRow("letter and line feed") << "a\n" << qint64(2) << qint64(2);
        QTest::newRow("lone line feed") << "\n" << qint64(2) << qint64(1);
        QTest::newRow("CR LF counts once") << "a\r\nb" << qint64(2) << qint64(4);
        QTest::newRow("CR alone ends a line") << "a\rb" << qint64(2) << qint64(3);
        QTest::newRow("accented letter") << QString(QChar(0xE9)) << qint64(1) << qint64(2);
        QTest::newRow("three-byte letter") << QString(QChar(0x20AC)) << qint64(1) << qint64(3);
        QTest::newRow("astral pair") << QString::fromUtf8("\xF0\x9F\x98\x80") << qint64(1) << qint64(4);
        QTest::newRow("lone surrogate as U+FFFD") << QString(QChar(0xDC00)) << qint64(1) << qint64(3);
    }
    void metrics()
    {
        QFETCH(QString, text);
        QFETCH(qint64, lines);
        QFETCH(qint64, bytes);
        const JSONTextMetrics m(text);
        QCOMPARE(m.lines, lines);
        QCOMPARE(m.bytes, bytes);
        QCOMPARE(m, JSONTextMetrics(lines, bytes));
    }
};

QTEST_GUILESS_MAIN(JSONTextMetricsTest)
#include "JSONTextMetricsTest.moc"
