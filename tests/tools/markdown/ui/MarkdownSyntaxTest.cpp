#include "support/QuorrixTestMain.h"
#include "tools/markdown/MarkdownSyntaxPatterns.h"
#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"

#include "kit/CodeTextBuffer.h"

#include <QRandomGenerator>
#include <QtTest/QtTest>

using namespace MarkdownSyntaxPatterns;
using Style = MarkdownSyntaxHighlighter::Style;
using Colour = MarkdownSyntaxHighlighter::Colour;
using Font = MarkdownSyntaxHighlighter::Font;

// One letter per unit: . plain, s secondary, t tertiary, A accent+heading, L link.
static QString sketch(const QList<Style>& styles)
{
    QString out;
    for (const Style& s : styles) {
        switch (s.colour) {
        case Colour::label: out += QLatin1Char('.'); break;
        case Colour::secondary: out += QLatin1Char('s'); break;
        case Colour::tertiary: out += QLatin1Char('t'); break;
        case Colour::accent: out += s.font == Font::heading ? QLatin1Char('A') : QLatin1Char('a'); break;
        case Colour::link: out += QLatin1Char('L'); break;
        }
    }
    return out;
}

class MarkdownSyntaxTest : public QObject {
    Q_OBJECT
private slots:
    void masking_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one-backtick span") << "`a*b*c`" << "`a`b`c`";
        QTest::newRow("underscores too") << "x `a_b` y_" << "x `a`b` y_";
        QTest::newRow("two-backtick span") << "``a*b``" << "``a`b``";
        QTest::newRow("run lengths differ") << "``a*b`" << "``a*b`";
        QTest::newRow("escaped opener, no later opener") << "\\`a*b`" << "\\`a*b`";
        QTest::newRow("escaped closer still closes") << "`a*b\\`" << "`a`b\\`";
        QTest::newRow("spans never cross a line feed") << "x `*\n`" << "x `*\n`";
        QTest::newRow("text after an unmatched run") << "`` x `a*b`" << "`` x `a`b`";
        QTest::newRow("empty") << "" << "";
    }
    void masking()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString masked = maskingCodeSpans(text);
        QCOMPARE(masked, expected);
        QCOMPARE(masked.size(), text.size());
    }

    void maskingReturnsInputWhenNothingChanges()
    {
        const QString plain = QStringLiteral("a*b*c");
        QCOMPARE(maskingCodeSpans(plain).constData(), plain.constData());
        const QString literal = QStringLiteral("``a*b`");
        QCOMPARE(maskingCodeSpans(literal).constData(), literal.constData());
    }

    void patterns_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("matches");
        QTest::newRow("emphasis star") << "emphasisAsterisk" << "*word*" << true;
        QTest::newRow("emphasis star inside word") << "emphasisAsterisk" << "a*word*b" << false;
        QTest::newRow("emphasis star blank inside") << "emphasisAsterisk" << "* word*" << false;
        QTest::newRow("emphasis star blank before close") << "emphasisAsterisk" << "*word *" << false;
        QTest::newRow("emphasis underscore") << "emphasisUnderscore" << "_word_" << true;
        QTest::newRow("double underscores") << "emphasisUnderscore" << "__word__" << false;
        QTest::newRow("strong") << "strong" << "**bold**" << true;
        QTest::newRow("strong inner stars not emphasis") << "emphasisAsterisk" << "**bold**" << false;
        QTest::newRow("heading") << "heading" << "## Title" << true;
        QTest::newRow("hash then letter") << "heading" << "#Title" << false;
        QTest::newRow("seven hashes") << "heading" << "####### x" << false;
        QTest::newRow("heading never takes the next line") << "heading" << "#\nTitle" << false;
        QTest::newRow("lone hash and blanks then a line") << "heading" << "#  \nTitle" << true;
        QTest::newRow("list indented hyphen") << "listMarker" << "  - item" << true;
        QTest::newRow("list number stop") << "listMarker" << "12. item" << true;
        QTest::newRow("list number paren") << "listMarker" << "3) item" << true;
        QTest::newRow("list hyphen alone") << "listMarker" << "-" << true;
        QTest::newRow("hyphen then letter") << "listMarker" << "-item" << false;
        QTest::newRow("quote") << "blockquote" << "> q" << true;
        QTest::newRow("code") << "inlineCode" << "`x`" << true;
        QTest::newRow("unicode word before star") << "emphasisAsterisk" << "\u00e9*word*" << false;
    }
    void patterns()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(bool, matches);
        const QHash<QString, const QRegularExpression*> byName = {
            {"heading", &heading()},       {"blockquote", &blockquote()},
            {"listMarker", &listMarker()}, {"strong", &strong()},
            {"emphasisAsterisk", &emphasisAsterisk()}, {"emphasisUnderscore", &emphasisUnderscore()},
            {"inlineCode", &inlineCode()}};
        const QRegularExpressionMatch match = byName.value(pattern)->match(text);
        if (pattern == "heading" && matches && text.contains('\n')) {
            // The blanks after the lone "#" are a heading title of their own; the next line stays out.
            QVERIFY(match.hasMatch());
            QVERIFY(match.capturedEnd(0) <= text.indexOf('\n'));
            return;
        }
        QCOMPARE(match.hasMatch(), matches);
    }

    void lineStyles_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        QTest::newRow("heading") << "## Title" << "ss.AAAAA";
        QTest::newRow("strong") << "**bold**" << "tt....tt";
        QTest::newRow("blank stars") << "a * b * c" << ".........";
        QTest::newRow("snake case") << "snake_case_name" << "...............";
        QTest::newRow("code span with stars") << "`a*b*c`" << "tLLLLLt";
        QTest::newRow("star before span stays plain") << "*a `b* c`" << "...tLLLLt";
        QTest::newRow("indented list") << "  - item" << "..s.....";
        QTest::newRow("numbered list") << "12) item" << "sss.....";
        QTest::newRow("quote") << "> quote" << "tt.....";
        QTest::newRow("quote marker alone") << ">" << "t";
        QTest::newRow("emphasis") << "an _em_ word" << "...t..t.....";
        QTest::newRow("lone surrogate is harmless") << QString("*a") + QChar(0xD800) + "*" << "t..t";
    }
    void lineStyles()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(sketch(MarkdownSyntaxHighlighter::styles(line)), expected);
    }

    void highlighterColoursTheText()
    {
        MarkdownSyntaxHighlighter highlighter;
        const CodeTextBuffer buffer(u"# Title\nplain\n`code`");
        QVERIFY(highlighter.styleLines(buffer, 0, buffer.length()));
        QList<CodeTextRun> runs;
        highlighter.runs(buffer, 0, buffer.length(), runs);
        bool boldTitle = false;
        for (const CodeTextRun& run : runs) {
            QVERIFY2(run.to <= 7 || run.from >= 14, "the plain line has no runs");
            if (run.from == 2 && run.to == 7)
                boldTitle = run.bold && run.foreground == highlighter.colour(Colour::accent);
        }
        QVERIFY(boldTitle);
        QCOMPARE(highlighter.styleAt(15)->colour, Colour::link);

        // Dark colours apply to what is there, at the next paint.
        const QColor light = highlighter.colour(Colour::accent);
        highlighter.setDark(!highlighter.isDark());
        QVERIFY(highlighter.colour(Colour::accent) != light);
        runs.clear();
        highlighter.runs(buffer, 2, 7, runs);
        QVERIFY(!runs.isEmpty());
        QCOMPARE(runs.first().foreground, highlighter.colour(Colour::accent));
    }

    void onlyWhatIsAskedForIsStyled()
    {
        MarkdownSyntaxHighlighter highlighter;
        QString text;
        for (int i = 0; i < 2000; ++i)
            text += QStringLiteral("line **%1** here\n").arg(i);
        const CodeTextBuffer buffer(text);
        const qsizetype line100 = buffer.lineStart(100);
        QVERIFY(highlighter.styleLines(buffer, line100, line100 + 5));
        QVERIFY(highlighter.isStyled(line100 + 5));
        QVERIFY(!highlighter.isStyled(buffer.lineStart(99)));
        QVERIFY(!highlighter.isStyled(buffer.lineStart(101)));
        // Asking again styles nothing new.
        QVERIFY(!highlighter.styleLines(buffer, line100, line100 + 5));
    }

    void editRestylesOnlyTheEditedParagraph()
    {
        MarkdownSyntaxHighlighter highlighter;
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("line **%1** here\n").arg(i);
        CodeTextBuffer buffer(text);
        QVERIFY(highlighter.styleLines(buffer, 0, buffer.length()));
        const qsizetype at = buffer.lineStart(100);
        const qsizetype nextBefore = buffer.lineStart(101);
        QCOMPARE(highlighter.styleAt(at + 5)->colour, Colour::tertiary);
        buffer.replace(at, 0, u"# ");
        highlighter.applyEdit(buffer, at, 2, 2);
        QVERIFY(buffer.lineText(100).startsWith("# line"));
        QCOMPARE(highlighter.styleAt(at)->colour, Colour::secondary);
        QCOMPARE(highlighter.styleAt(at + 2)->font, Font::heading);
        // The neighbours keep their own styles, moved with the edit (no heading bleeds into them).
        QCOMPARE(highlighter.styleAt(nextBefore + 2)->colour, Colour::label);
        QCOMPARE(highlighter.styleAt(nextBefore + 2 + 5)->colour, Colour::tertiary);
        QCOMPARE(highlighter.styleAt(at - 1 - 4 - 2)->colour, Colour::tertiary);
        for (qsizetype p = buffer.lineStart(101); p < buffer.lineEnd(101); ++p)
            QVERIFY(highlighter.styleAt(p)->font != Font::heading);
        // Joining two lines restyles the joined one.
        const qsizetype lf = buffer.lineEnd(100);
        buffer.replace(lf, 1, u"");
        highlighter.applyEdit(buffer, lf, 0, -1);
        QCOMPARE(highlighter.styleAt(lf + 1)->colour, Colour::accent);
    }

    void stylesAgreeWithTheWholeText_data()
    {
        QTest::addColumn<int>("seed");
        for (int seed = 1; seed <= 6; ++seed)
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }
    // Random edits against the plain model: styles of every line computed from scratch.
    void stylesAgreeWithTheWholeText()
    {
        QFETCH(int, seed);
        QRandomGenerator random{quint32(seed)};
        const QStringList pieces = {"# ", "**", "*", "_", "`", "\n", "> ", "- ", "1. ", "word", " ", "x"};
        QString text;
        for (int i = 0; i < 200; ++i)
            text += pieces[random.bounded(int(pieces.size()))];
        CodeTextBuffer buffer(text);
        MarkdownSyntaxHighlighter highlighter;
        highlighter.styleLines(buffer, 0, buffer.length());
        for (int step = 0; step < 300; ++step) {
            const qsizetype at = random.bounded(int(buffer.length() + 1));
            const qsizetype removed = std::min<qsizetype>(buffer.length() - at, random.bounded(3));
            const QString inserted = random.bounded(3) == 0 ? QString() : pieces[random.bounded(int(pieces.size()))];
            buffer.replace(at, removed, inserted);
            highlighter.applyEdit(buffer, at, inserted.size(), inserted.size() - removed);
        }
        highlighter.styleLines(buffer, 0, buffer.length());
        for (qsizetype line = 0; line < buffer.lineCount(); ++line) {
            const QList<Style> expected = MarkdownSyntaxHighlighter::styles(buffer.lineText(line));
            const qsizetype start = buffer.lineStart(line);
            for (qsizetype i = 0; i < expected.size(); ++i) {
                const auto got = highlighter.styleAt(start + i);
                QVERIFY2(got && *got == expected[i],
                         qPrintable(QStringLiteral("line %1 unit %2: %3").arg(line).arg(i).arg(buffer.lineText(line))));
            }
        }
    }
};

QUORRIX_TEST_MAIN(MarkdownSyntaxTest)
#include "MarkdownSyntaxTest.moc"
