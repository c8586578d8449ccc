#include "support/QuorrixTestMain.h"
#include "tools/markdown/MarkdownSyntaxPatterns.h"
#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>
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

    void highlighterFormatsTheDocument()
    {
        QPlainTextEdit edit;
        auto* highlighter = new MarkdownSyntaxHighlighter(edit.font(), edit.document());
        edit.setPlainText(QStringLiteral("# Title\nplain\n`code`"));
        const QTextBlock first = edit.document()->firstBlock();
        const QList<QTextLayout::FormatRange> formats = first.layout()->formats();
        QVERIFY(!formats.isEmpty());
        bool boldTitle = false;
        for (const auto& range : formats) {
            if (range.start == 2 && range.length == 5) {
                boldTitle = range.format.fontWeight() == QFont::Bold &&
                            range.format.foreground().color() == highlighter->colour(Colour::accent);
            }
        }
        QVERIFY(boldTitle);
        QVERIFY(first.next().layout()->formats().isEmpty());

        // Dark colours restyle what is there.
        const QColor light = highlighter->colour(Colour::accent);
        highlighter->setDark(!highlighter->isDark());
        QVERIFY(highlighter->colour(Colour::accent) != light);
        bool restyled = false;
        for (const auto& range : edit.document()->firstBlock().layout()->formats())
            restyled |= range.format.foreground().color() == highlighter->colour(Colour::accent);
        QVERIFY(restyled);
    }

    void editRestylesOnlyTheEditedParagraph()
    {
        QPlainTextEdit edit;
        new MarkdownSyntaxHighlighter(edit.font(), edit.document());
        QString text;
        for (int i = 0; i < 200; ++i)
            text += QStringLiteral("line **%1** here\n").arg(i);
        edit.setPlainText(text);
        int rehighlighted = 0;
        connect(edit.document(), &QTextDocument::contentsChange, this, [&](int, int, int) { ++rehighlighted; });
        QTextCursor cursor(edit.document()->findBlockByNumber(100));
        cursor.insertText(QStringLiteral("# "));
        QTextBlock edited = edit.document()->findBlockByNumber(100);
        QVERIFY(edited.text().startsWith("# line"));
        QVERIFY(!edited.layout()->formats().isEmpty());
        // The neighbours keep their own styles (no heading bleeds into them).
        for (const auto& range : edited.next().layout()->formats())
            QVERIFY(range.format.fontWeight() != QFont::Bold);
    }
};

QUORRIX_TEST_MAIN(MarkdownSyntaxTest)
#include "MarkdownSyntaxTest.moc"
