#include "tools/csv/CSVFileBytes.h"

#include "support/QuorrixTestMain.h"

#include <QTemporaryDir>
#include <QtTest>

class CSVFileBytesTest : public QObject {
    Q_OBJECT

private slots:
    void readsTheWholeFile_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("empty") << qsizetype(0);
        QTest::newRow("one byte") << qsizetype(1);
        QTest::newRow("small pages") << qsizetype(100000);
        // From a quarter of a megabyte on the bytes start on a huge-page boundary.
        QTest::newRow("huge pages") << qsizetype(300001);
        QTest::newRow("past two huge pages") << qsizetype((4 << 20) + 7);
    }
    void readsTheWholeFile()
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
        const std::optional<QByteArray> read = CSVFileBytes::read(path);
        QVERIFY(read.has_value());
        QCOMPARE(read->size(), size);
        QVERIFY(*read == bytes);
    }

    void unreadableGivesNothing()
    {
        QTemporaryDir dir;
        QVERIFY(!CSVFileBytes::read(dir.filePath(QStringLiteral("missing.csv"))).has_value());
        QVERIFY(!CSVFileBytes::read(dir.path()).has_value());
    }
};

QUORRIX_TEST_MAIN(CSVFileBytesTest)
#include "CSVFileBytesTest.moc"
