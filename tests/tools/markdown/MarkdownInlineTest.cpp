#include "tools/markdown/MarkdownInline.h"

#include <QtTest>

class MarkdownInlineTest : public QObject {
    Q_OBJECT
private slots:
    void inlineFormatting_data();
    void inlineFormatting();
    void allowedURLs_data();
    void allowedURLs();
    void escape();
};

void MarkdownInlineTest::inlineFormatting_data()
{
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QString>("html");

    QTest::newRow("empty") << "" << "";
    QTest::newRow("escape") << "a & b <c>" << "a &amp; b &lt;c&gt;";
    QTest::newRow("quote stays") << "say \"hi\"" << "say \"hi\"";
    QTest::newRow("raw html") << "<img src=x onerror=alert(1)>" << "&lt;img src=x onerror=alert(1)&gt;";
    QTest::newRow("code span escaped") << "`a<b`" << "<code>a&lt;b</code>";
    QTest::newRow("code span quote") << "`\"&`" << "<code>&quot;&amp;</code>";
    QTest::newRow("stars in code") << "`*a*`" << "<code>*a*</code>";
    QTest::newRow("double backticks") << "``a``" << "`<code>a</code>`";
    QTest::newRow("code span over line break") << "`a\nb`" << "<code>a\nb</code>";
    QTest::newRow("unclosed backtick") << "a ` b" << "a ` b";
    QTest::newRow("strong and em") << "**bold** and *em*" << "<strong>bold</strong> and <em>em</em>";
    QTest::newRow("triple stars") << "***x***" << "<em><strong>x</strong></em>";
    QTest::newRow("underscores") << "__b__ _e_" << "<strong>b</strong> <em>e</em>";
    QTest::newRow("strike") << "~~gone~~" << "<del>gone</del>";
    QTest::newRow("unflanked star") << "a * b * c" << "a <em> b </em> c";
    QTest::newRow("snake case") << "snake_case_name" << "snake_case_name";
    QTest::newRow("no nesting of one kind") << "**a **b** c**" << "<strong>a </strong>b<strong> c</strong>";
    QTest::newRow("emphasis over line break") << "*a\nb*" << "<em>a\nb</em>";
    QTest::newRow("worked example")
        << "**[docs](guide.md \"Guide\")** and `a<b`" << "<strong><a href=\"guide.md\">docs</a></strong> and <code>a&lt;b</code>";
    QTest::newRow("link") << "[a](http://x.y/z)" << "<a href=\"http://x.y/z\">a</a>";
    QTest::newRow("relative link") << "[a](../b.md#c)" << "<a href=\"../b.md#c\">a</a>";
    QTest::newRow("javascript link refused") << "[x](javascript:alert(1))" << "x)";
    QTest::newRow("upper javascript refused") << "[x](JavaScript:y)" << "x";
    QTest::newRow("control inside scheme refused") << QString("[x](java") + QChar(0x7F) + "script:y)" << "x";
    QTest::newRow("file link refused") << "[x](file:///etc/passwd)" << "x";
    QTest::newRow("image") << "![a b](p.png)" << "<img src=\"p.png\" alt=\"a b\">";
    QTest::newRow("empty alt") << "![](p.png)" << "<img src=\"p.png\" alt=\"\">";
    QTest::newRow("javascript image refused") << "![a](javascript:x)" << "<img alt=\"a\">";
    QTest::newRow("data image") << "![a](data:image/png;base64,AAA)" << "<img src=\"data:image/png;base64,AAA\" alt=\"a\">";
    QTest::newRow("data image any case") << "![a](DATA:Image/PNG,x)" << "<img src=\"DATA:Image/PNG,x\" alt=\"a\">";
    QTest::newRow("data html image refused") << "![a](data:text/html,x)" << "<img alt=\"a\">";
    QTest::newRow("data link refused") << "[a](data:image/png,x)" << "a";
    QTest::newRow("mailto link") << "[m](mailto:a@b.c)" << "<a href=\"mailto:a@b.c\">m</a>";
    QTest::newRow("mailto image refused") << "![m](mailto:a@b.c)" << "<img alt=\"m\">";
    QTest::newRow("double quoted title dropped") << "[a](x.md \"T\")" << "<a href=\"x.md\">a</a>";
    QTest::newRow("single quoted title dropped") << "[a](x.md 'T')" << "<a href=\"x.md\">a</a>";
    QTest::newRow("paren title dropped") << "[a](x.md (T))" << "<a href=\"x.md\">a</a>";
    QTest::newRow("space before close") << "[a](x.md )" << "<a href=\"x.md\">a</a>";
    QTest::newRow("unclosed title") << "[a](x.md \"T)" << "[a](x.md \"T)";
    QTest::newRow("quote in destination") << "[a](x\"y)" << "<a href=\"x&quot;y\">a</a>";
    QTest::newRow("ampersand in destination") << "[a](x&y)" << "<a href=\"x&amp;y\">a</a>";
    QTest::newRow("bracket in destination") << "[a](x]y)" << "<a href=\"x]y\">a</a>";
    QTest::newRow("code link text") << "[`c`](u)" << "<a href=\"u\"><code>c</code></a>";
    QTest::newRow("code alt text") << "![`c<`](u)" << "<img src=\"u\" alt=\"c&lt;\">";
    QTest::newRow("code in destination") << "[a](`x y`)" << "<a href=\"x y\">a</a>";
    QTest::newRow("code hides scheme no longer") << "[a](`javascript`:x)" << "a";
    QTest::newRow("emphasis in link text") << "[*a*](u)" << "<a href=\"u\"><em>a</em></a>";
    QTest::newRow("image in link") << "[![i](p.png)](u)" << "<a href=\"u\"><img src=\"p.png\" alt=\"i\"></a>";
    QTest::newRow("brackets in link text") << "[a [b]](u)" << "[a [b]](u)";
    QTest::newRow("empty link text") << "[](u)" << "[](u)";
    QTest::newRow("title closed only in working string")
        << "[a](u \"x `\"` y\")" << "[a](u \"x <code>&quot;</code> y\")";
    QTest::newRow("title with code span closed") << "[a](u \"x `c` y\")" << "<a href=\"u\">a</a>";
    QTest::newRow("bare url") << "see http://a.b/c" << "see <a href=\"http://a.b/c\">http://a.b/c</a>";
    QTest::newRow("bare url trail") << "see http://a.b/c)." << "see <a href=\"http://a.b/c\">http://a.b/c</a>).";
    QTest::newRow("bare url escaped ampersand trail") << "http://a.b/?x&" << "<a href=\"http://a.b/?x\">http://a.b/?x</a>&amp;";
    QTest::newRow("bare url keeps inner ampersand") << "https://a.b/?x&y=1" << "<a href=\"https://a.b/?x&amp;y=1\">https://a.b/?x&amp;y=1</a>";
    QTest::newRow("bare url ends before angle") << "http://a.b<c" << "<a href=\"http://a.b\">http://a.b</a>&lt;c";
    QTest::newRow("bare url ends before quote") << "http://a.b\"c" << "<a href=\"http://a.b\">http://a.b</a>\"c";
    QTest::newRow("bare url in link text") << "[http://a.b](http://c.d)" << "<a href=\"http://c.d\">http://a.b</a>";
    QTest::newRow("glued to letter") << "ahttp://x.y" << "ahttp://x.y";
    QTest::newRow("glued to digit") << "1http://x.y" << "1http://x.y";
    QTest::newRow("glued to underscore") << "_http://x.y" << "_http://x.y";
    QTest::newRow("upper case scheme") << "HTTP://x.y" << "HTTP://x.y";
    QTest::newRow("scheme only") << "http:// x" << "http:// x";
    QTest::newRow("bare url through code span") << "http://a/`b`" << "<a href=\"http://a/b\">http://a/<code>b</code></a>";
    QTest::newRow("bare url with emphasis after") << "*see http://a.b/x*"
                                                  << "*see <a href=\"http://a.b/x*\">http://a.b/x*</a>";
    QTest::newRow("emphasis crossing a link stays text") << "*a [b* c](d)" << "*a <a href=\"d\">b* c</a>";
    QTest::newRow("emphasis crossing strong stays text") << "*a __b* c__" << "*a <strong>b* c</strong>";
    QTest::newRow("placeholder-like text") << "\\0x\\1" << "\\0x\\1";
}

void MarkdownInlineTest::inlineFormatting()
{
    QFETCH(QString, markdown);
    QFETCH(QString, html);
    MarkdownOutput out;
    MarkdownInline::appendInline(markdown, out);
    QCOMPARE(out.take(), html);
}

void MarkdownInlineTest::allowedURLs_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("link");
    QTest::addColumn<bool>("image");

    QTest::newRow("empty") << "" << true << true;
    QTest::newRow("relative") << "a/b.png" << true << true;
    QTest::newRow("fragment") << "#top" << true << true;
    QTest::newRow("protocol relative") << "//host/x" << true << true;
    QTest::newRow("colon after slash") << "a/b:c" << true << true;
    QTest::newRow("https") << "HTTPS://x" << true << true;
    QTest::newRow("mailto") << "mailto:x@y" << true << false;
    QTest::newRow("data image") << "data:image/gif,x" << false << true;
    QTest::newRow("data svg") << "data:Image/svg+xml,x" << false << true;
    QTest::newRow("data text") << "data:text/plain,x" << false << false;
    QTest::newRow("javascript") << "javascript:x" << false << false;
    QTest::newRow("vbscript") << "vbscript:x" << false << false;
    QTest::newRow("space inside scheme") << "java script:x" << false << false;
    QTest::newRow("quorrix-doc") << "quorrix-doc://document/x" << false << false;
}

void MarkdownInlineTest::allowedURLs()
{
    QFETCH(QString, value);
    QFETCH(bool, link);
    QFETCH(bool, image);
    QCOMPARE(MarkdownInline::isAllowedURL(value, false), link);
    QCOMPARE(MarkdownInline::isAllowedURL(value, true), image);
}

void MarkdownInlineTest::escape()
{
    QCOMPARE(MarkdownInline::escapeHTML(u"&lt; \"<>\""), QStringLiteral("&amp;lt; \"&lt;&gt;\""));
}

QTEST_GUILESS_MAIN(MarkdownInlineTest)
#include "MarkdownInlineTest.moc"
