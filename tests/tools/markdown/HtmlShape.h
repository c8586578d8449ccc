#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// Checks the shape of converter output: every "<" opens a known tag, attribute values are quoted
// and clean, elements close in order, and every block element carries its source lines within
// 0...lineCount. Returns an empty text when all holds, else what broke.
inline QString htmlShapeProblem(const QString& html, qint64 lineCount)
{
    static const QSet<QString> paired{"p", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "code", "blockquote", "ul", "ol",
                                      "li", "table", "thead", "tbody", "tr", "th", "td", "a", "strong", "em", "del"};
    static const QSet<QString> voids{"hr", "img", "input"};
    static const QSet<QString> lined{"p", "h1", "h2", "h3", "h4", "h5", "h6", "pre", "blockquote", "li", "tr", "hr"};
    QStringList stack;
    qsizetype i = 0;
    const qsizetype n = html.size();
    while (i < n) {
        const QChar c = html[i];
        if (c == u'>')
            return QStringLiteral("stray > at %1").arg(i);
        if (c != u'<') {
            ++i;
            continue;
        }
        const qsizetype close = html.indexOf(u'>', i);
        if (close < 0)
            return QStringLiteral("unterminated tag at %1").arg(i);
        QString tag = html.mid(i + 1, close - i - 1);
        i = close + 1;
        const bool closing = tag.startsWith(u'/');
        if (closing)
            tag.remove(0, 1);
        // Split name and attributes; values are double-quoted and hold neither quote nor angle bracket.
        const qsizetype space = tag.indexOf(u' ');
        const QString name = space < 0 ? tag : tag.left(space);
        QString attributes = space < 0 ? QString() : tag.mid(space);
        if (closing) {
            if (!attributes.isEmpty())
                return QStringLiteral("closing tag with attributes: %1").arg(tag);
            if (stack.isEmpty() || stack.last() != name)
                return QStringLiteral("</%1> closes %2").arg(name, stack.isEmpty() ? QStringLiteral("nothing") : stack.last());
            stack.removeLast();
            continue;
        }
        if (!paired.contains(name) && !voids.contains(name))
            return QStringLiteral("unknown tag <%1>").arg(tag);
        qint64 dataLine = -1;
        qint64 dataEnd = -1;
        qsizetype k = 0;
        while (k < attributes.size()) {
            if (attributes[k] == u' ') {
                ++k;
                continue;
            }
            const qsizetype eq = attributes.indexOf(u'=', k);
            const qsizetype nextSpace = attributes.indexOf(u' ', k);
            if (eq < 0 || (nextSpace >= 0 && nextSpace < eq)) {
                // A bare attribute: disabled, checked.
                const QString bare = attributes.mid(k, nextSpace < 0 ? -1 : nextSpace - k);
                if (bare != u"disabled" && bare != u"checked")
                    return QStringLiteral("bare attribute %1").arg(bare);
                k = nextSpace < 0 ? attributes.size() : nextSpace;
                continue;
            }
            const QString key = attributes.mid(k, eq - k);
            if (eq + 1 >= attributes.size() || attributes[eq + 1] != u'"')
                return QStringLiteral("unquoted attribute in <%1>").arg(tag);
            const qsizetype endQuote = attributes.indexOf(u'"', eq + 2);
            if (endQuote < 0)
                return QStringLiteral("unterminated attribute in <%1>").arg(tag);
            const QString value = attributes.mid(eq + 2, endQuote - eq - 2);
            if (key == u"data-line")
                dataLine = value.toLongLong();
            else if (key == u"data-end")
                dataEnd = value.toLongLong();
            else if (key == u"href" || key == u"src") {
                QString compact;
                for (QChar ch : value) {
                    if (ch.unicode() > 0x20 && ch.unicode() != 0x7F)
                        compact += ch.toLower();
                }
                if (compact.startsWith(u"javascript:") || compact.startsWith(u"vbscript:") || compact.startsWith(u"file:"))
                    return QStringLiteral("unsafe %1 %2").arg(key, value);
            }
            k = endQuote + 1;
        }
        if (lined.contains(name)) {
            if (dataLine < 0 || dataEnd <= dataLine || dataEnd > lineCount)
                return QStringLiteral("<%1> lines %2..%3 of %4").arg(tag).arg(dataLine).arg(dataEnd).arg(lineCount);
        }
        if (paired.contains(name))
            stack.append(name);
    }
    if (!stack.isEmpty())
        return QStringLiteral("unclosed <%1>").arg(stack.join(QStringLiteral("> <")));
    return {};
}
