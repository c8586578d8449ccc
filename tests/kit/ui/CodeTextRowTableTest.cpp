#include "kit/ui/CodeTextRowTable.h"

#include "support/QuorrixTestMain.h"

#include <QRandomGenerator>

#include <numeric>
#include <vector>

// The table against a plain vector of counts, through random sets, inserts, erases and resets.
class CodeTextRowTableTest : public QObject {
    Q_OBJECT

private:
    static void check(const CodeTextRowTable& table, const std::vector<int32_t>& model, QRandomGenerator& random,
        bool everyLine)
    {
        QCOMPARE(table.size(), model.size());
        const qint64 total = std::accumulate(model.begin(), model.end(), qint64(0));
        QCOMPARE(table.total(), total);
        QCOMPARE(table.prefix(model.size()), total);
        qint64 first = 0;
        for (size_t line = 0; line < model.size(); ++line) {
            if (everyLine || random.bounded(16) == 0) {
                QCOMPARE(table.at(line), model[line]);
                QCOMPARE(table.prefix(line), first);
                QCOMPARE(table.find(first), line);
                QCOMPARE(table.find(first + model[line] - 1), line);
            }
            first += model[line];
        }
        QCOMPARE(table.find(total + 5), model.empty() ? size_t(0) : model.size() - 1);
    }

    static int32_t count(QRandomGenerator& random)
    {
        switch (random.bounded(10)) {
        case 0:
            return 254 + random.bounded(4); // around the largest count a byte holds
        case 1:
            return 1 + random.bounded(100000);
        default:
            return 1 + random.bounded(4);
        }
    }

private slots:
    void randomEdits_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("lines");
        for (quint32 seed = 1; seed <= 6; ++seed) {
            QTest::addRow("empty, seed %u", seed) << seed << 0;
            QTest::addRow("1000 lines, seed %u", seed) << seed << 1000;
        }
        QTest::addRow("one group") << 7u << 64;
    }

    void randomEdits()
    {
        QFETCH(quint32, seed);
        QFETCH(int, lines);
        QRandomGenerator random(seed);
        CodeTextRowTable table;
        table.reset(size_t(lines));
        std::vector<int32_t> model(size_t(lines), 1);
        check(table, model, random, true);
        for (int step = 0; step < 1500; ++step) {
            const int op = random.bounded(100);
            const size_t at = size_t(random.bounded(int(model.size()) + 1));
            if (op < 55 && !model.empty()) {
                const size_t line = std::min(at, model.size() - 1);
                model[line] = count(random);
                table.set(line, model[line]);
            } else if (op < 75) {
                const size_t added = size_t(random.bounded(random.bounded(4) == 0 ? 300 : 4));
                model.insert(model.begin() + qsizetype(at), added, 1);
                table.insert(at, added);
            } else if (op < 95) {
                const size_t removed = std::min(model.size() - at, size_t(random.bounded(random.bounded(4) == 0 ? 300 : 4)));
                model.erase(model.begin() + qsizetype(at), model.begin() + qsizetype(at + removed));
                table.erase(at, removed);
            } else if (op < 98) {
                const size_t from = at, removed = std::min(model.size() - at, size_t(random.bounded(70)));
                const size_t added = size_t(random.bounded(70));
                model.erase(model.begin() + qsizetype(from), model.begin() + qsizetype(from + removed));
                model.insert(model.begin() + qsizetype(from), added, 1);
                table.replace(from, removed, added);
            } else {
                // Smaller, a little larger and much larger tables reuse or renew the storage.
                const size_t size = size_t(random.bounded(random.bounded(2) ? 200 : 5000));
                model.assign(size, 1);
                table.reset(size);
            }
            check(table, model, random, step % 50 == 0);
            if (QTest::currentTestFailed()) {
                qWarning("after step %d", step);
                return;
            }
        }
        check(table, model, random, true);
    }
};

QUORRIX_TEST_MAIN(CodeTextRowTableTest)
#include "CodeTextRowTableTest.moc"
