#include "tools/markdown/MarkdownText.h"

#include <QChar>

namespace MarkdownText {

QStringView trimmed(QStringView s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && isTrimSpace(s[begin].unicode()))
        ++begin;
    while (end > begin && isTrimSpace(s[end - 1].unicode()))
        --end;
    return s.sliced(begin, end - begin);
}

bool isWhiteSpaceProperty(char32_t c)
{
    if (c < 0x80)
        return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029
        || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isWordChar(char32_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
    if (c == 0x200C || c == 0x200D)
        return true;
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Number_Letter:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Punctuation_Connector:
        return true;
    default:
        // Alphabetic symbols: circled and squared Latin letters.
        return (c >= 0x24B6 && c <= 0x24E9) || (c >= 0x1F130 && c <= 0x1F149) || (c >= 0x1F150 && c <= 0x1F169)
            || (c >= 0x1F170 && c <= 0x1F189);
    }
}

bool isDecimalDigit(char32_t c)
{
    if (c < 0x80)
        return c >= u'0' && c <= u'9';
    return QChar::category(c) == QChar::Number_DecimalDigit;
}

bool endsCharacter(QStringView s, qsizetype i)
{
    if (i >= s.size())
        return true;
    const char32_t c = scalarAt(s, i);
    if (c < 0x300)
        return true;
    if (c == 0x200C || c == 0x200D || c == 0xFF9E || c == 0xFF9F || (c >= 0x1F3FB && c <= 0x1F3FF)
        || (c >= 0xE0020 && c <= 0xE007F))
        return false;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
        return false;
    default:
        return true;
    }
}

} // namespace MarkdownText
