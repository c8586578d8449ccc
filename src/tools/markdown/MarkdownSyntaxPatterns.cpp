#include "tools/markdown/MarkdownSyntaxPatterns.h"

#include "kit/TextHelpers.h"

#include <QHash>
#include <QList>

#include <cstdlib>

namespace MarkdownSyntaxPatterns {

namespace {

QRegularExpression compiled(const char* pattern, bool perLine)
{
    QRegularExpression::PatternOptions options = QRegularExpression::UseUnicodePropertiesOption;
    if (perLine)
        options |= QRegularExpression::MultilineOption;
    QRegularExpression expression(QString::fromUtf8(pattern), options);
    if (!expression.isValid()) {
        qFatal("Markdown pattern does not compile: %s (%s)", pattern, qPrintable(expression.errorString()));
    }
    expression.optimize();
    return expression;
}

bool isASCIIPunctuation(char16_t unit)
{
    return (unit >= 0x21 && unit <= 0x2F) || (unit >= 0x3A && unit <= 0x40) || (unit >= 0x5B && unit <= 0x60) ||
           (unit >= 0x7B && unit <= 0x7E);
}

} // namespace

const QRegularExpression& heading()
{
    static const QRegularExpression expression = compiled(R"(^(#{1,6})([\h]+)(.+)$)", true);
    return expression;
}

const QRegularExpression& blockquote()
{
    static const QRegularExpression expression = compiled(R"(^(>\s))", true);
    return expression;
}

const QRegularExpression& listMarker()
{
    static const QRegularExpression expression = compiled(R"(^([\h]*)([-*+]|[\d]+[.)])(\s|$))", true);
    return expression;
}

const QRegularExpression& strong()
{
    static const QRegularExpression expression = compiled(R"((\*\*)([^*\n]+)(\*\*))", false);
    return expression;
}

const QRegularExpression& emphasisAsterisk()
{
    static const QRegularExpression expression =
        compiled(R"((?<![\w_*])(\*)(?!\s)([^*\n]+)(?<!\s)(\*)(?![\w_*]))", false);
    return expression;
}

const QRegularExpression& emphasisUnderscore()
{
    static const QRegularExpression expression =
        compiled(R"((?<![\w_])(_)(?!\s)([^_\n]+)(?<!\s)(_)(?![\w_]))", false);
    return expression;
}

const QRegularExpression& inlineCode()
{
    static const QRegularExpression expression = compiled(R"((`)([^`\n]+)(`))", false);
    return expression;
}

bool maskCodeSpans(char16_t* units, qsizetype start, qsizetype end)
{
    if (start >= end)
        return false;

    // Starts of every maximal backtick run, by run length, ascending.
    QHash<qsizetype, QList<qsizetype>> runs;
    for (qsizetype i = start; i < end;) {
        if (units[i] != u'`') {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < end && units[j] == u'`')
            ++j;
        runs[j - i].append(i);
        i = j;
    }
    if (runs.isEmpty())
        return false;

    QHash<qsizetype, qsizetype> cursors;
    bool replaced = false;
    qsizetype i = start;
    while (i < end) {
        const char16_t unit = units[i];
        if (unit == u'\\') {
            if (i + 1 >= end)
                i += 1;
            else if (isASCIIPunctuation(units[i + 1]))
                i += 2;
            else
                i += 1;
            continue;
        }
        if (unit != u'`') {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < end && units[j] == u'`')
            ++j;
        const qsizetype length = j - i;
        const QList<qsizetype>& starts = runs[length];
        qsizetype& cursor = cursors[length];
        while (cursor < starts.size() && starts[cursor] < j)
            ++cursor;
        if (cursor >= starts.size()) {
            i = j;
            continue;
        }
        const qsizetype close = starts[cursor];
        for (qsizetype k = j; k < close; ++k) {
            if (units[k] == u'*' || units[k] == u'_') {
                units[k] = u'`';
                replaced = true;
            }
        }
        i = close + length;
    }
    return replaced;
}

QString maskingCodeSpans(const QString& text)
{
    if (!text.contains(QLatin1Char('`')))
        return text;
    QString buffer = text;
    char16_t* units = reinterpret_cast<char16_t*>(buffer.data());
    const qsizetype length = buffer.size();
    bool replaced = false;
    qsizetype lineStart = 0;
    while (lineStart <= length) {
        qsizetype lineEnd = lineStart;
        while (lineEnd < length && units[lineEnd] != u'\n')
            ++lineEnd;
        if (maskCodeSpans(units, lineStart, lineEnd))
            replaced = true;
        lineStart = lineEnd + 1;
    }
    return replaced ? buffer : text;
}

QString matchable(const QString& text)
{
    return TextHelpers::repairedUTF16(text);
}

} // namespace MarkdownSyntaxPatterns
