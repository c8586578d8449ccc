#include "tools/json/JSONTextMetrics.h"

#include "kit/TextHelpers.h"

JSONTextMetrics::JSONTextMetrics(const QString& text)
{
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qint64 breaks = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c == u'\n')
            ++breaks;
        else if (c == u'\r' && !(i + 1 < n && p[i + 1] == u'\n'))
            ++breaks; // a CR alone ends a line too; in CR LF only the LF counts
    }
    bytes = utf8Length(text);
    lines = bytes == 0 ? 0 : breaks + 1;
}

qint64 JSONTextMetrics::utf8Length(QStringView text)
{
    return TextHelpers::utf8Length(text);
}
