#include "tools/markdown/MarkdownHTML.h"

#include "support/OneCore.h"
#include "support/QuorrixTestMain.h"

#include <QRandomGenerator>
#include <QtTest>

// From UTF-8 to UTF-8 in one call: the bytes of decoding, rendering and encoding one after
// another, whatever the bytes, and wherever the large documents are cut into pieces and parts;
// on one core, where all of it is encoded as it is written, a little at a time.
class MarkdownUtf8Test : public QObject {
    Q_OBJECT

    static QByteArray inSteps(const QByteArray& bytes) { return renderMarkdownHTML(QString::fromUtf8(bytes)).toUtf8(); }

    // Markdown and byte faults: truncated and stray sequences (before line feeds too), encoded
    // surrogates, byte-order marks at line starts, CR and CR LF, NUL, marks and emoji.
    static QByteArray randomBytes(quint32 seed, qsizetype size)
    {
        QRandomGenerator random(seed);
        const QList<QByteArray> pieces = {
            "Plain *emphasis* and `code` with a [link](https://quorrix.example) caf\xC3\xA9.\n",
            "\n## Heading\n\n",
            "```\ncode & <tags>\n\n## inside a fence\n```\n",
            "- item \xE6\x97\xA5\xE6\x9C\xAC\n- [x] done\n\n",
            "> quoted \xF0\x9F\x98\x80 **strong**\n\n",
            "| a | b |\n| --- | --- |\n| 1 | \xCE\xB1 |\n\n",
            "\xEF\xBB\xBF# heading after a byte-order mark\n\n",
            "\n\xEF\xBB\xBF",
            "\xEF\xBB" "half a byte-order mark\n",
            "cut \xE2\x82\n",
            "stray \x80\xBF and \xFF\xFE\n",
            "surrogate \xED\xA0\x80 half\n",
            "overlong \xC0\xAF and \xF4\x90\x80\x80\n",
            "crlf\r\nline\r\n",
            "cr\ronly\r",
            QByteArray("nul \0 one \x01\n", 12),
            "e\xCC\x81 ~~gone~~ https://a.b/c?d&e\n",
            "\n",
        };
        QByteArray bytes;
        while (bytes.size() < size)
            bytes += pieces.at(int(random.bounded(pieces.size())));
        return bytes;
    }

private slots:
    void sameAsSteps_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("byte-order mark only") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("small") << randomBytes(1, 4000);
        QTest::newRow("a line feed before every byte-order mark") << QByteArray("a\n\xEF\xBB\xBF").repeated(200000);
        QTest::newRow("one long line") << QByteArray("word *a* ").repeated(120000);
        QTest::newRow("carriage returns only") << QByteArray("## h\r\rtext\r\r").repeated(90000);
        for (quint32 seed = 1; seed <= 6; ++seed)
            QTest::addRow("large, seed %u", seed) << randomBytes(seed, (qsizetype(1) << 20) + seed * 7919);
        QTest::newRow("large, ending in a cut sequence") << randomBytes(7, qsizetype(1) << 20) + "\xF0\x9F\x98";
        QTest::newRow("large, ending in a byte-order mark") << randomBytes(8, qsizetype(1) << 20) + "\n\xEF\xBB\xBF";
        QTest::newRow("large, long paragraphs") << (QByteArray("\n## Heading\n\n") + QByteArray("Words of a long paragraph, *some* `code` too. ").repeated(12) + "\n").repeated(3000);
        // HTML of more than two bytes a unit (escapes, CJK) in some parts only, all of it in others.
        const QByteArray wide = QByteArray("\n## h\n\n&<>\"&<>\" \xE6\x97\xA5\xE6\x9C\xAC&<>\n").repeated(16000);
        QTest::newRow("large, HTML wider in the middle") << randomBytes(9, qsizetype(1) << 19) + wide + randomBytes(10, qsizetype(1) << 19);
        QTest::newRow("large, HTML wider throughout") << wide.repeated(2);
    }
    void sameAsSteps()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(renderMarkdownHTMLUtf8(bytes), inSteps(bytes));
    }

    void sameAsStepsOnOneCore_data() { sameAsSteps_data(); }
    void sameAsStepsOnOneCore()
    {
        QFETCH(QByteArray, bytes);
        const cpu_set_t before = OneCore::pin();
        const QByteArray once = renderMarkdownHTMLUtf8(bytes);
        OneCore::restore(before);
        QCOMPARE(once, inSteps(bytes));
    }
};

QUORRIX_TEST_MAIN(MarkdownUtf8Test)
#include "MarkdownUtf8Test.moc"
