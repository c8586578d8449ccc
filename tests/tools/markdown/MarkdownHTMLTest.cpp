#include "tools/markdown/MarkdownHTML.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

QString p(int line, int end, const QString& text)
{
    return QStringLiteral("<p data-line=\"%1\" data-end=\"%2\">%3</p>\n").arg(line).arg(end).arg(text);
}

QString li(int line, int end, const QString& text)
{
    return QStringLiteral("<li data-line=\"%1\" data-end=\"%2\">%3</li>\n").arg(line).arg(end).arg(text);
}

QString hr(int line) { return QStringLiteral("<hr data-line=\"%1\" data-end=\"%2\">\n").arg(line).arg(line + 1); }

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<unreadable %1>").arg(path);
    return QString::fromUtf8(file.readAll());
}

} // namespace

class MarkdownHTMLTest : public QObject {
    Q_OBJECT
private slots:
    void blocks_data();
    void blocks();
    void lists_data();
    void lists();
    void tables_data();
    void tables();
    void deepQuotes();
    void deepLists();
    void goldenFiles_data();
    void goldenFiles();
};

void MarkdownHTMLTest::blocks_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html");

    QTest::newRow("empty") << "" << "";
    QTest::newRow("blank lines only") << "\n  \n\t\n" << "";
    QTest::newRow("overview example")
        << "# Title\n\nSome text\nmore\n\n```js\nx < 1\n```\n> quote"
        << "<h1 data-line=\"0\" data-end=\"1\">Title</h1>\n<p data-line=\"2\" data-end=\"4\">Some text\nmore</p>\n"
           "<pre data-line=\"5\" data-end=\"8\"><code class=\"language-js\">x &lt; 1</code></pre>\n"
           "<blockquote data-line=\"8\" data-end=\"9\">\n<p data-line=\"8\" data-end=\"9\">quote</p>\n</blockquote>\n";
    QTest::newRow("LF") << "a\nb" << p(0, 2, "a\nb");
    QTest::newRow("CR LF is one break") << "a\r\nb" << p(0, 2, "a\nb");
    QTest::newRow("lone CR is one break") << "a\rb" << p(0, 2, "a\nb");
    QTest::newRow("CR LF line numbers") << "a\r\n\r\n# h\r" << p(0, 1, "a") + "<h1 data-line=\"2\" data-end=\"3\">h</h1>\n";
    QTest::newRow("hash alone") << "#" << "<h1 data-line=\"0\" data-end=\"1\"></h1>\n";
    QTest::newRow("hash glued") << "#x" << p(0, 1, "#x");
    QTest::newRow("hash tab") << "#\tx" << p(0, 1, "#\tx");
    QTest::newRow("seven hashes") << "####### x" << p(0, 1, "####### x");
    QTest::newRow("indented closed heading") << "  ## Title ##" << "<h2 data-line=\"0\" data-end=\"1\">Title</h2>\n";
    QTest::newRow("C sharp") << "# C#" << "<h1 data-line=\"0\" data-end=\"1\">C#</h1>\n";
    QTest::newRow("only closing run") << "## ###" << "<h2 data-line=\"0\" data-end=\"1\"></h2>\n";
    QTest::newRow("level 6") << "###### six" << "<h6 data-line=\"0\" data-end=\"1\">six</h6>\n";
    QTest::newRow("hash with combining mark") << QString::fromUtf8("#\u0301 x") << p(0, 1, QString::fromUtf8("#\u0301 x"));
    QTest::newRow("heading inline") << "# a *b*" << "<h1 data-line=\"0\" data-end=\"1\">a <em>b</em></h1>\n";
    QTest::newRow("rule dashes") << "---" << hr(0);
    QTest::newRow("rule stars") << "***" << hr(0);
    QTest::newRow("rule underscores") << "___" << hr(0);
    QTest::newRow("rule spaced dashes") << "- - -" << hr(0);
    QTest::newRow("rule spaced stars") << "* * *" << hr(0);
    QTest::newRow("two dashes") << "--" << p(0, 1, "--");
    QTest::newRow("tabbed dashes are no rule") << "-\t-\t-" << "<ul>\n" + li(0, 1, "-\t-") + "</ul>\n";
    QTest::newRow("no underlined headings") << "foo\n---" << p(0, 1, "foo") + hr(1);
    QTest::newRow("heading then text") << "# A\ntext" << "<h1 data-line=\"0\" data-end=\"1\">A</h1>\n" + p(1, 2, "text");
    QTest::newRow("unclosed fence") << "```\ncode\nmore" << "<pre data-line=\"0\" data-end=\"3\"><code>code\nmore</code></pre>\n";
    QTest::newRow("four backticks") << "````\nx\n````" << "<pre data-line=\"0\" data-end=\"3\"><code class=\"language-`\">x</code></pre>\n";
    QTest::newRow("quote in info") << "```a\"b\nx\n```" << "<pre data-line=\"0\" data-end=\"3\"><code class=\"language-a&quot;b\">x</code></pre>\n";
    QTest::newRow("info escaped") << "``` <b>\nx\n```" << "<pre data-line=\"0\" data-end=\"3\"><code class=\"language-&lt;b&gt;\">x</code></pre>\n";
    QTest::newRow("no info") << "```\nx\n```" << "<pre data-line=\"0\" data-end=\"3\"><code>x</code></pre>\n";
    QTest::newRow("code escaped, indent kept") << "```\n  a < b & c\n```" << "<pre data-line=\"0\" data-end=\"3\"><code>  a &lt; b &amp; c</code></pre>\n";
    QTest::newRow("info closes backtick fence") << "```\na\n```text\nb" << "<pre data-line=\"0\" data-end=\"3\"><code>a</code></pre>\n" + p(3, 4, "b");
    QTest::newRow("tilde does not close backticks") << "```\n~~~\n```" << "<pre data-line=\"0\" data-end=\"3\"><code>~~~</code></pre>\n";
    QTest::newRow("tilde fence") << "~~~\n*x*\n~~~" << "<pre data-line=\"0\" data-end=\"3\"><code>*x*</code></pre>\n";
    QTest::newRow("empty fence") << "```\n```" << "<pre data-line=\"0\" data-end=\"2\"><code></code></pre>\n";
    QTest::newRow("quote continuation")
        << "> a\nb" << "<blockquote data-line=\"0\" data-end=\"2\">\n" + p(0, 2, "a\nb") + "</blockquote>\n";
    QTest::newRow("quote ended by list")
        << "> a\n- b"
        << "<blockquote data-line=\"0\" data-end=\"1\">\n" + p(0, 1, "a") + "</blockquote>\n<ul>\n" + li(1, 2, "b") + "</ul>\n";
    QTest::newRow("indented list stays in quote")
        << "> a\n    - b"
        << "<blockquote data-line=\"0\" data-end=\"2\">\n" + p(0, 1, "a") + "<ul>\n" + li(1, 2, "b") + "</ul>\n</blockquote>\n";
    QTest::newRow("blank line ends quote")
        << "> a\n\n> c"
        << "<blockquote data-line=\"0\" data-end=\"1\">\n" + p(0, 1, "a") + "</blockquote>\n<blockquote data-line=\"2\" data-end=\"3\">\n"
               + p(2, 3, "c") + "</blockquote>\n";
    QTest::newRow("absolute lines inside quote")
        << "x\n\n> a\n> b" << p(0, 1, "x") + "<blockquote data-line=\"2\" data-end=\"4\">\n" + p(2, 4, "a\nb") + "</blockquote>\n";
    QTest::newRow("nested quote")
        << "> > x"
        << "<blockquote data-line=\"0\" data-end=\"1\">\n<blockquote data-line=\"0\" data-end=\"1\">\n" + p(0, 1, "x")
               + "</blockquote>\n</blockquote>\n";
    QTest::newRow("quote holds fence")
        << "> ```\n> a\n> ```\n> b"
        << "<blockquote data-line=\"0\" data-end=\"4\">\n<pre data-line=\"0\" data-end=\"3\"><code>a</code></pre>\n" + p(3, 4, "b")
               + "</blockquote>\n";
    QTest::newRow("list line inside open fence stays in quote")
        << "> ```\n- a\n> ```"
        << "<blockquote data-line=\"0\" data-end=\"3\">\n<pre data-line=\"0\" data-end=\"3\"><code>- a</code></pre>\n</blockquote>\n";
    QTest::newRow("quote lines without space") << ">a" << "<blockquote data-line=\"0\" data-end=\"1\">\n" + p(0, 1, "a") + "</blockquote>\n";
    QTest::newRow("raw html escaped") << "<script>alert(1)</script>" << p(0, 1, "&lt;script&gt;alert(1)&lt;/script&gt;");
    QTest::newRow("two continues paragraph") << "a\n2. two" << p(0, 2, "a\n2. two");
    QTest::newRow("one interrupts paragraph") << "a\n1. one" << p(0, 1, "a") + "<ol>\n" + li(1, 2, "one") + "</ol>\n";
    QTest::newRow("zero one interrupts") << "a\n01) one" << p(0, 1, "a") + "<ol>\n" + li(1, 2, "one") + "</ol>\n";
    QTest::newRow("bullet interrupts") << "a\n- x" << p(0, 1, "a") + "<ul>\n" + li(1, 2, "x") + "</ul>\n";
    QTest::newRow("empty bullet continues") << "a\n-" << p(0, 2, "a\n-");
    QTest::newRow("paragraph after list in list mode")
        << "- item\n  more\n3. x"
        << "<ul>\n" + li(0, 1, "item") + "</ul>\n" + p(1, 2, "more") + "<ol>\n" + li(2, 3, "x") + "</ol>\n";
    QTest::newRow("paragraph lines trimmed") << "  a  \nb" << p(0, 2, "a\nb");
    QTest::newRow("paragraph stopped by heading") << "a\n# b" << p(0, 1, "a") + "<h1 data-line=\"1\" data-end=\"2\">b</h1>\n";
    QTest::newRow("paragraph stopped by fence")
        << "a\n```\nb\n```" << p(0, 1, "a") + "<pre data-line=\"1\" data-end=\"4\"><code>b</code></pre>\n";
    QTest::newRow("paragraph stopped by quote")
        << "a\n> b" << p(0, 1, "a") + "<blockquote data-line=\"1\" data-end=\"2\">\n" + p(1, 2, "b") + "</blockquote>\n";
    QTest::newRow("NUL replaced") << QString(QChar(0)) + "a" + QChar(1) << p(0, 1, QString(QChar(0xFFFD)) + "a" + QChar(0xFFFD));
    QTest::newRow("lone surrogate replaced") << QString(QChar(0xD800)) + "a" << p(0, 1, QString(QChar(0xFFFD)) + "a");
    const QString pair = QString::fromUtf8("\U0001F600");
    QTest::newRow("surrogate pair kept") << "a" + pair + "b" << p(0, 1, "a" + pair + "b");
    QTest::newRow("lone low surrogate after a pair replaced")
        << pair + QChar(0xDC00) << p(0, 1, pair + QChar(0xFFFD));
    QTest::newRow("high surrogate at the end replaced") << pair + "a" + QChar(0xD83D) << p(0, 1, pair + "a" + QChar(0xFFFD));
    QTest::newRow("CR after a pair is a break") << pair + "\ra" << p(0, 2, pair + "\na");
    QTest::newRow("no-break space trimmed") << QString::fromUtf8("\u00A0a\u3000") << p(0, 1, "a");
}

void MarkdownHTMLTest::blocks()
{
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    QCOMPARE(renderMarkdownHTML(markdown), html);
}

void MarkdownHTMLTest::lists_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html");

    QTest::newRow("part example")
        << "- a\n  - b\n- c"
        << "<ul>\n<li data-line=\"0\" data-end=\"2\">a\n<ul>\n<li data-line=\"1\" data-end=\"2\">b</li>\n</ul>\n</li>\n"
           "<li data-line=\"2\" data-end=\"3\">c</li>\n</ul>\n";
    QTest::newRow("no space after dash") << "-foo" << p(0, 1, "-foo");
    QTest::newRow("decimal number") << "1.5 apples" << p(0, 1, "1.5 apples");
    QTest::newRow("dash alone") << "-" << "<ul>\n" + li(0, 1, "") + "</ul>\n";
    QTest::newRow("plus") << "+ a" << "<ul>\n" + li(0, 1, "a") + "</ul>\n";
    QTest::newRow("paren ordered") << "3) c" << "<ol>\n" + li(0, 1, "c") + "</ol>\n";
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("\u0661. a") << "<ol>\n" + li(0, 1, "a") + "</ol>\n";
    QTest::newRow("one blank between items") << "- a\n\n- b" << "<ul>\n" + li(0, 1, "a") + li(2, 3, "b") + "</ul>\n";
    QTest::newRow("two blanks split lists")
        << "- a\n\n\n- b" << "<ul>\n" + li(0, 1, "a") + "</ul>\n<ul>\n" + li(3, 4, "b") + "</ul>\n";
    QTest::newRow("mixed kinds one list") << "- a\n1. b" << "<ul>\n" + li(0, 1, "a") + li(1, 2, "b") + "</ul>\n";
    QTest::newRow("indented four is a list") << "    - a" << "<ul>\n" + li(0, 1, "a") + "</ul>\n";
    QTest::newRow("indents 0 4 2")
        << "- a\n    - b\n  - c"
        << "<ul>\n<li data-line=\"0\" data-end=\"3\">a\n<ul>\n" + li(1, 2, "b") + li(2, 3, "c") + "</ul>\n</li>\n</ul>\n";
    QTest::newRow("indents 0 2 4 0")
        << "- a\n  - b\n    - c\n- d"
        << "<ul>\n<li data-line=\"0\" data-end=\"3\">a\n<ul>\n<li data-line=\"1\" data-end=\"3\">b\n<ul>\n" + li(2, 3, "c")
               + "</ul>\n</li>\n</ul>\n</li>\n" + li(3, 4, "d") + "</ul>\n";
    QTest::newRow("nested ordered in bullet")
        << "- a\n  1. b"
        << "<ul>\n<li data-line=\"0\" data-end=\"2\">a\n<ol>\n" + li(1, 2, "b") + "</ol>\n</li>\n</ul>\n";
    QTest::newRow("checked task")
        << "- [x] done"
        << "<ul>\n<li class=\"task-list-item\" data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled checked> done</li>\n</ul>\n";
    QTest::newRow("checked task upper")
        << "- [X] done"
        << "<ul>\n<li class=\"task-list-item\" data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled checked> done</li>\n</ul>\n";
    QTest::newRow("open task empty")
        << "- [ ]" << "<ul>\n<li class=\"task-list-item\" data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled> </li>\n</ul>\n";
    QTest::newRow("open task glued")
        << "- [ ]x" << "<ul>\n<li class=\"task-list-item\" data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled> x</li>\n</ul>\n";
    QTest::newRow("checked glued")
        << "- [x]done" << "<ul>\n<li class=\"task-list-item\" data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled checked> done</li>\n</ul>\n";
    QTest::newRow("not a task") << "- [y] no" << "<ul>\n" + li(0, 1, "[y] no") + "</ul>\n";
    QTest::newRow("ordered task")
        << "1. [ ] pack" << "<ol>\n<li class=\"task-list-item\" data-line=\"0\" data-end=\"1\"><input type=\"checkbox\" disabled> pack</li>\n</ol>\n";
    QTest::newRow("text line ends list") << "- a\ntext" << "<ul>\n" + li(0, 1, "a") + "</ul>\n" + p(1, 2, "text");
    QTest::newRow("item inline") << "- **b** `c`" << "<ul>\n" + li(0, 1, "<strong>b</strong> <code>c</code>") + "</ul>\n";
    QTest::newRow("blank then non item ends list")
        << "- a\n\nb" << "<ul>\n" + li(0, 1, "a") + "</ul>\n" + p(2, 3, "b");
    QTest::newRow("after list outside list mode")
        << "- a\n\nb\n2. c" << "<ul>\n" + li(0, 1, "a") + "</ul>\n" + p(2, 4, "b\n2. c");
    QTest::newRow("after list indented to content, list mode")
        << "- a\n\n  b\n2. c" << "<ul>\n" + li(0, 1, "a") + "</ul>\n" + p(2, 3, "b") + "<ol>\n" + li(3, 4, "c") + "</ol>\n";
    QTest::newRow("after empty item paragraph continues")
        << "-\n\nb\n2. c" << "<ul>\n" + li(0, 1, "") + "</ul>\n" + p(2, 4, "b\n2. c");
}

void MarkdownHTMLTest::lists()
{
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    QCOMPARE(renderMarkdownHTML(markdown), html);
}

void MarkdownHTMLTest::tables_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html");

    const QString head = "<table>\n<thead>\n<tr data-line=\"0\" data-end=\"1\">\n";
    QTest::newRow("aligned header")
        << "| a | b |\n|:--|--:|"
        << head + "<th style=\"text-align:left\">a</th>\n<th style=\"text-align:right\">b</th>\n</tr>\n</thead>\n<tbody>\n</tbody>\n</table>\n";
    QTest::newRow("bare pipes")
        << "a|b\n-|-\n1|2"
        << head + "<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr data-line=\"2\" data-end=\"3\">\n<td>1</td>\n<td>2</td>\n</tr>\n</tbody>\n</table>\n";
    QTest::newRow("spaced delimiter")
        << "a | b\n--- | ---" << head + "<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n</tbody>\n</table>\n";
    QTest::newRow("center")
        << "a|\n|:-:|" << head + "<th style=\"text-align:center\">a</th>\n</tr>\n</thead>\n<tbody>\n</tbody>\n</table>\n";
    QTest::newRow("tab in delimiter is no table") << "a|b\n-|\t-" << p(0, 2, "a|b\n-|\t-");
    QTest::newRow("pipe without dash is no table") << "a|b\n|:|" << p(0, 2, "a|b\n|:|");
    QTest::newRow("rows wider than header")
        << "|a|\n|:-|-:|\n|1|2|3|"
        << head + "<th style=\"text-align:left\">a</th>\n</tr>\n</thead>\n<tbody>\n<tr data-line=\"2\" data-end=\"3\">\n"
                  "<td style=\"text-align:left\">1</td>\n<td style=\"text-align:right\">2</td>\n<td>3</td>\n</tr>\n</tbody>\n</table>\n";
    QTest::newRow("blank ends body")
        << "a|b\n-|-\n1|2\n\nx"
        << head + "<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n<tr data-line=\"2\" data-end=\"3\">\n<td>1</td>\n<td>2</td>\n</tr>\n</tbody>\n</table>\n"
               + p(4, 5, "x");
    QTest::newRow("row without pipe ends body")
        << "a|b\n-|-\nx" << head + "<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n</tbody>\n</table>\n" + p(2, 3, "x");
    QTest::newRow("backslash does not protect pipe")
        << "h|h\n-|-\na \\| b"
        << head + "<th>h</th>\n<th>h</th>\n</tr>\n</thead>\n<tbody>\n<tr data-line=\"2\" data-end=\"3\">\n<td>a \\</td>\n<td>b</td>\n</tr>\n</tbody>\n</table>\n";
    QTest::newRow("cells inline formatted")
        << "*a*|`b`\n-|-" << head + "<th><em>a</em></th>\n<th><code>b</code></th>\n</tr>\n</thead>\n<tbody>\n</tbody>\n</table>\n";
    QTest::newRow("table interrupts paragraph")
        << "p\na|b\n-|-"
        << p(0, 1, "p") + "<table>\n<thead>\n<tr data-line=\"1\" data-end=\"2\">\n<th>a</th>\n<th>b</th>\n</tr>\n</thead>\n<tbody>\n</tbody>\n</table>\n";
}

void MarkdownHTMLTest::tables()
{
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    QCOMPARE(renderMarkdownHTML(markdown), html);
}

void MarkdownHTMLTest::deepQuotes()
{
    const QString html = renderMarkdownHTML(QString(33, u'>') + "x");
    QString expected;
    for (int k = 0; k < 32; ++k)
        expected += "<blockquote data-line=\"0\" data-end=\"1\">\n";
    expected += p(0, 1, "&gt;x");
    for (int k = 0; k < 32; ++k)
        expected += "</blockquote>\n";
    QCOMPARE(html, expected);
}

void MarkdownHTMLTest::deepLists()
{
    QString markdown;
    for (int k = 0; k < 33; ++k)
        markdown += QString(k, u' ') + "- i" + QString::number(k) + "\n";
    const QString html = renderMarkdownHTML(markdown);
    QCOMPARE(html.count("<ul>"), 32);
    QCOMPARE(html.count("</ul>"), 32);
    QCOMPARE(html.count("<li "), 33);
    // The 33rd item joins the innermost list, next to the 32nd.
    QVERIFY(html.contains("i31</li>\n<li data-line=\"32\" data-end=\"33\">i32</li>\n</ul>"));
}

void MarkdownHTMLTest::goldenFiles_data()
{
    QTest::addColumn<QString>("name");
    const QDir dir(qEnvironmentVariable("QUORRIX_SOURCE_DIR") + "/tests/tools/markdown/golden");
    const QStringList names = dir.entryList({"*.md"}, QDir::Files, QDir::Name);
    QVERIFY2(!names.isEmpty(), qPrintable("no golden files in " + dir.path()));
    for (const QString& name : names)
        QTest::newRow(qPrintable(name)) << dir.filePath(name);
}

void MarkdownHTMLTest::goldenFiles()
{
    QFETCH(QString, name);
    QString expectedPath = name;
    expectedPath.replace(QRegularExpression("\\.md$"), ".html");
    const QString actual = renderMarkdownHTML(readFile(name));
    const QString expected = readFile(expectedPath);
    if (actual != expected) {
        const QStringList a = actual.split('\n');
        const QStringList e = expected.split('\n');
        for (qsizetype k = 0; k < std::max(a.size(), e.size()); ++k) {
            const QString al = a.value(k, "<missing>");
            const QString el = e.value(k, "<missing>");
            if (al != el)
                QFAIL(qPrintable(QStringLiteral("line %1\n   actual: %2\n expected: %3").arg(k + 1).arg(al, el)));
        }
    }
}

QTEST_GUILESS_MAIN(MarkdownHTMLTest)
#include "MarkdownHTMLTest.moc"
