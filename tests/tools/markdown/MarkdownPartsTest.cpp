#include "tools/markdown/MarkdownHTML.h"

#include <QRandomGenerator>
#include <QtTest>

// Large documents are rendered in parts side by side; whatever the blocks that run across the
// cuts, the result must be the one-piece rendering.
class MarkdownPartsTest : public QObject {
    Q_OBJECT

    static QString onePiece(const QString& text)
    {
        const QStringView all(text);
        QList<QStringView> lines;
        for (const QStringView line : all.split(u'\n'))
            lines.append(line);
        MarkdownOutput out;
        MarkdownHTML::renderBlocks(lines, 0, 0, out);
        return out.take();
    }

    // Blocks that may hold a heading-like line after a blank one without it starting a block.
    static QString randomDocument(quint32 seed, qsizetype units)
    {
        QRandomGenerator random(seed);
        const QStringList pieces = {
            QStringLiteral("Plain *emphasis* and `code` with a [link](https://quorrix.example).\n"),
            QStringLiteral("\n## Heading %1\n\n"),
            QStringLiteral("```\ncode\n\n## not a heading inside a fence\n```\n"),
            QStringLiteral("```\nan unclosed fence starts here\n\n"),
            QStringLiteral("~~~\n\n# also inside\n~~~\n"),
            QStringLiteral("- item\n\n  ## heading inside the item\n- next\n"),
            QStringLiteral("1. one\n2. two\n\n"),
            QStringLiteral("> quoted\n>\n> ## quoted heading\n\n"),
            QStringLiteral("| a | b |\n| --- | --- |\n| 1 | 2 |\n\n"),
            QStringLiteral("    indented code\n\n    ## still code\n"),
            QStringLiteral("\n"),
            QStringLiteral("---\n"),
        };
        QString text;
        int headings = 0;
        while (text.size() < units) {
            QString piece = pieces.at(int(random.bounded(pieces.size())));
            if (piece.contains(QLatin1String("%1")))
                piece = piece.arg(++headings);
            text += piece;
        }
        return text;
    }

private slots:
    void partsEqualOnePiece_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed = 1; seed <= 8; ++seed)
            QTest::addRow("seed %u", seed) << seed;
    }
    void partsEqualOnePiece()
    {
        QFETCH(quint32, seed);
        // Large enough to be cut into parts.
        const QString text = randomDocument(seed, qsizetype(1) << 20);
        QCOMPARE(renderMarkdownHTML(text), onePiece(text));
    }
};

QTEST_GUILESS_MAIN(MarkdownPartsTest)
#include "MarkdownPartsTest.moc"
