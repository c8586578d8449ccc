#include "tools/csv/CSVParser.h"
#include "tools/csv/CSVRefinement.h"

#include "support/OneCore.h"
#include "support/QuorrixTestMain.h"

#include <QtTest>

// Pinned to one core, parsing, searching and sorting a large table start no helper thread.
class CSVOneCoreTest : public QObject {
    Q_OBJECT

    qsizetype m_threads = 0;

private slots:
    void initTestCase()
    {
        OneCore::pin();
        m_threads = OneCore::threadCount();
    }

    void pinnedWorkStartsNoThread()
    {
        QByteArray text("n,t\n");
        text.reserve(4 << 20);
        for (qint64 i = 0; i < 300000; ++i) {
            text.append(QByteArray::number((i * 7919) % 1000));
            text.append(",w");
            text.append(QByteArray::number((i * 104729) % 5000));
            text.append('\n');
        }
        const CSVParser::Document document = CSVParser::parseCSV(text, U',', true);
        QCOMPARE(document.rowCount(), 300000);
        QCOMPARE(OneCore::threadCount(), m_threads);
        const auto rows = CSVRefinement::visibleRows(document, QStringLiteral("w1"), {}, {{0, true}, {1, false}});
        QVERIFY(rows && !rows->empty());
        QCOMPARE(OneCore::threadCount(), m_threads);
    }
};

QUORRIX_TEST_MAIN(CSVOneCoreTest)
#include "CSVOneCoreTest.moc"
