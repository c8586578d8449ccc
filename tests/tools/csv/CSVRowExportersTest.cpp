#include "support/QuorrixTestMain.h"
#include "tools/csv/CSVParser.h"
#include "tools/csv/CSVRowExporters.h"

#include <algorithm>
#include <numeric>
#include <random>

using namespace CSVParser;

namespace {
Column text(qint64 id, const QString& name) { return Column{id, name, false}; }
Column number(qint64 id, const QString& name) { return Column{id, name, true}; }
Row row(qint64 id, QStringList cells) { return Row{id, std::move(cells)}; }
using Columns = QList<Column>;
using Rows = QList<Row>;
} // namespace

class CSVRowExportersTest : public QObject {
    Q_OBJECT
private slots:
    void json_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<Columns>("columns");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text and a whole number")
            << Rows{row(0, {"Alice", "98"})} << Columns{text(0, "Name"), number(1, "Score")}
            << "[\n  {\n    \"Name\" : \"Alice\",\n    \"Score\" : 98\n  }\n]";
        QTest::newRow("98.0 is written whole") << Rows{row(0, {"98.0"})} << Columns{number(0, "n")}
                                               << "[\n  {\n    \"n\" : 98\n  }\n]";
        QTest::newRow("fractions and exponents") << Rows{row(0, {"0.1"}), row(1, {"1e3"}), row(2, {"-2.5e-7"})}
                                                 << Columns{number(0, "n")}
                                                 << "[\n  {\n    \"n\" : 0.1\n  },\n  {\n    \"n\" : 1000\n  },\n  {\n    \"n\" : -2.5e-07\n  }\n]";
        QTest::newRow("blank cell of a numeric column stays text")
            << Rows{row(0, {" "})} << Columns{number(0, "n")} << "[\n  {\n    \"n\" : \" \"\n  }\n]";
        QTest::newRow("blanks around a number in a numeric column")
            << Rows{row(0, {" 42 ", " 42 "})} << Columns{number(0, "n"), text(1, "t")}
            << "[\n  {\n    \"n\" : 42,\n    \"t\" : \" 42 \"\n  }\n]";
        QTest::newRow("non-finite numbers are written as their text")
            << Rows{row(0, {"nan"}), row(1, {"-inf"}), row(2, {"3"})} << Columns{number(0, "n")}
            << "[\n  {\n    \"n\" : \"nan\"\n  },\n  {\n    \"n\" : \"-inf\"\n  },\n  {\n    \"n\" : 3\n  }\n]";
        QTest::newRow("same name twice: one member, the later value")
            << Rows{row(0, {"a", "b"})} << Columns{text(0, "x"), text(1, "x")} << "[\n  {\n    \"x\" : \"b\"\n  }\n]";
        QTest::newRow("escapes") << Rows{row(0, {"q\"b\\s/n\nt\tc\x01"})} << Columns{text(0, "k/")}
                                 << "[\n  {\n    \"k\\/\" : \"q\\\"b\\\\s\\/n\\nt\\tc\\u0001\"\n  }\n]";
        QTest::newRow("non-ASCII written as it is") << Rows{row(0, {QString::fromUtf8("caf\xC3\xA9")})}
                                                    << Columns{text(0, "w")}
                                                    << QString::fromUtf8("[\n  {\n    \"w\" : \"caf\xC3\xA9\"\n  }\n]");
        QTest::newRow("no rows") << Rows{} << Columns{text(0, "a")} << "[]";
        QTest::newRow("no columns") << Rows{row(0, {"a"}), row(1, {"b"})} << Columns{} << "[\n  {},\n  {}\n]";
        QTest::newRow("missing cell is empty text") << Rows{row(0, {})} << Columns{text(3, "d")}
                                                    << "[\n  {\n    \"d\" : \"\"\n  }\n]";
        QTest::newRow("hidden columns left out") << Rows{row(0, {"1", "2", "3"})} << Columns{text(0, "a"), text(2, "c")}
                                                 << "[\n  {\n    \"a\" : \"1\",\n    \"c\" : \"3\"\n  }\n]";
    }
    void json()
    {
        QFETCH(Rows, rows);
        QFETCH(Columns, columns);
        QFETCH(QString, expected);
        QCOMPARE(csvRowsAsJSON(rows, columns), expected);
    }

    void rowObject()
    {
        const auto object = csvRowObject(row(0, {"Alice", "98", "x"}), {text(0, "Name"), number(1, "Score"), text(2, "Name")});
        QCOMPARE(object.size(), 2);
        QCOMPARE(object[0].first, QStringLiteral("Name"));
        QCOMPARE(std::get<QString>(object[0].second), QStringLiteral("x"));
        QCOMPARE(std::get<double>(object[1].second), 98.0);
    }

    void markdown_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<Columns>("columns");
        QTest::addColumn<QString>("expected");
        QTest::newRow("name and score") << Rows{row(0, {"Alice", "98"})} << Columns{text(0, "Name"), number(1, "Score")}
                                        << "| Name | Score |\n| --- | --- |\n| Alice | 98 |\n";
        QTest::newRow("bars escaped, line breaks made blanks")
            << Rows{row(0, {"a|b", "x\ny"})} << Columns{text(0, "p|q"), text(1, "r")}
            << "| p\\|q | r |\n| --- | --- |\n| a\\|b | x y |\n";
        QTest::newRow("no rows: the two header lines") << Rows{} << Columns{text(0, "a")} << "| a |\n| --- |\n";
        QTest::newRow("no columns: empty") << Rows{row(0, {"a"})} << Columns{} << "";
        QTest::newRow("cells kept as they are") << Rows{row(0, {" 1 "})} << Columns{number(0, "n")} << "| n |\n| --- |\n|  1  |\n";
    }
    void markdown()
    {
        QFETCH(Rows, rows);
        QFETCH(Columns, columns);
        QFETCH(QString, expected);
        QCOMPARE(csvRowsAsMarkdownTable(rows, columns), expected);
    }

    void tsv_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<Columns>("columns");
        QTest::addColumn<QString>("expected");
        QTest::newRow("header and rows, no final break")
            << Rows{row(0, {"1", "2"}), row(1, {"3", "4"})} << Columns{text(0, "a"), text(1, "b")} << "a\tb\n1\t2\n3\t4";
        QTest::newRow("tabs and line feeds become blanks")
            << Rows{row(0, {"a\tb\nc"})} << Columns{text(0, "x\ty")} << "x y\na b c";
        QTest::newRow("no rows: nothing") << Rows{} << Columns{text(0, "a")} << "";
        QTest::newRow("no columns: nothing") << Rows{row(0, {"a"})} << Columns{} << "";
        QTest::newRow("missing cell") << Rows{row(0, {"1"})} << Columns{text(0, "a"), text(1, "b")} << "a\tb\n1\t";
    }
    void tsv()
    {
        QFETCH(Rows, rows);
        QFETCH(Columns, columns);
        QFETCH(QString, expected);
        QCOMPARE(csvRowsAsTSV(rows, columns), expected);
    }

    // The document form reads the compact store; both forms agree.
    void documentFormsAgree()
    {
        const Document d = parseCSV(QStringLiteral("Name,Score,Note\nAlice,98,\"a|b\nc\"\nBob,7.5,x\tz\n"), U',', true);
        const std::vector<qint32> ids{1, 0};
        const Rows rows{d.row(1), d.row(0)};
        const Columns columns{d.columns()[0], d.columns()[1], d.columns()[2]};
        QCOMPARE(csvRowsAsJSON(d, ids, columns), csvRowsAsJSON(rows, columns));
        QCOMPARE(csvRowsAsMarkdownTable(d, ids, columns), csvRowsAsMarkdownTable(rows, columns));
        QCOMPARE(csvRowsAsTSV(d, ids, columns), csvRowsAsTSV(rows, columns));
        QCOMPARE(csvRowsAsJSON(d, ids, {columns[1]}), QStringLiteral("[\n  {\n    \"Score\" : 7.5\n  },\n  {\n    \"Score\" : 98\n  }\n]"));
    }

    // Copies of many rows are written in parts side by side; joined, they are the text a plain
    // row-by-row writer gives, for rows in any order and any subset of columns.
    void largeCopiesMatchAPlainWriter_data()
    {
        QTest::addColumn<CSVCopyFormat>("format");
        QTest::newRow("JSON") << CSVCopyFormat::json;
        QTest::newRow("Markdown") << CSVCopyFormat::markdown;
        QTest::newRow("tab-separated") << CSVCopyFormat::tsv;
    }
    void largeCopiesMatchAPlainWriter()
    {
        QFETCH(CSVCopyFormat, format);
        std::mt19937 random(25);
        const char* pieces[] = {"a", "|", "\n", "\t", "\"", "/", "\\", "\xC3\xA9", "\xEF\xBB\xBF", " ", "7", "\x01"};
        QByteArray text = "k,n,t\n";
        const int rowCount = 40000;
        for (int r = 0; r < rowCount; ++r) {
            QByteArray cell;
            for (int i = int(random() % 6); i > 0; --i)
                cell += pieces[random() % std::size(pieces)];
            text += QByteArray::number(r % 1000) + ',' + QByteArray::number(int(random() % 2000) - 1000) + ".5,\"" +
                    cell.replace("\"", "\"\"") + "\"\n";
        }
        const Document d = parseCSV(text, U',', true);
        QCOMPARE(d.rowCount(), rowCount);
        std::vector<qint32> ids;
        for (qint32 r = 0; r < rowCount; ++r) {
            if (random() % 4)
                ids.push_back(r);
        }
        std::shuffle(ids.begin(), ids.end(), random);
        const Columns columns{d.columns()[2], d.columns()[1]};
        // The plain writer: one row after another, the way the rules put it.
        auto escaped = [](QString cell, bool json) {
            if (!json)
                return cell;
            QString out;
            for (const QChar c : cell) {
                switch (c.unicode()) {
                case '"': out += "\\\""; break;
                case '\\': out += "\\\\"; break;
                case '/': out += "\\/"; break;
                case '\n': out += "\\n"; break;
                case '\t': out += "\\t"; break;
                case 1: out += "\\u0001"; break;
                default: out += c;
                }
            }
            return out;
        };
        QString expected;
        if (format == CSVCopyFormat::json) {
            QStringList objects;
            for (const qint32 id : ids) {
                const QString number = d.cell(id, 1).chopped(2) + ".5";
                objects << "  {\n    \"t\" : \"" + escaped(d.cell(id, 2), true) + "\",\n    \"n\" : " +
                               (number.startsWith("-0") ? "-0.5" : number) + "\n  }";
            }
            expected = "[\n" + objects.join(",\n") + "\n]";
        } else if (format == CSVCopyFormat::markdown) {
            expected = "| t | n |\n| --- | --- |\n";
            for (const qint32 id : ids)
                expected += "| " + d.cell(id, 2).replace("|", "\\|").replace('\n', ' ') + " | " + d.cell(id, 1) + " |\n";
        } else {
            expected = "t\tn";
            for (const qint32 id : ids)
                expected += "\n" + d.cell(id, 2).replace('\t', ' ').replace('\n', ' ') + "\t" + d.cell(id, 1);
        }
        std::atomic<qsizetype> reported{0};
        const QByteArray copied = csvRowsAsUtf8(format, d, ids, columns, nullptr, [&](qsizetype done) {
            qsizetype seen = reported.load();
            while (done > seen && !reported.compare_exchange_weak(seen, done)) {
            }
        });
        QCOMPARE(textFromUtf8(copied), expected);
        QCOMPARE(reported.load(), qsizetype(ids.size()));
    }

    void aCancelledCopyGivesNothing()
    {
        QByteArray text = "a\n";
        for (int r = 0; r < 50000; ++r)
            text += "x\n";
        const Document d = parseCSV(text, U',', true);
        std::vector<qint32> ids(size_t(d.rowCount()));
        std::iota(ids.begin(), ids.end(), 0);
        const std::atomic_bool cancelled{true};
        QVERIFY(csvRowsAsUtf8(CSVCopyFormat::json, d, ids, d.columns(), &cancelled).isEmpty());
        QVERIFY(!csvRowsAsUtf8(CSVCopyFormat::json, d, ids, d.columns()).isEmpty());
    }
};

QUORRIX_TEST_MAIN(CSVRowExportersTest)
#include "CSVRowExportersTest.moc"
