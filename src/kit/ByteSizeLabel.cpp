#include "kit/ByteSizeLabel.h"

QString byteSizeLabel(qint64 bytes, const QString& suffix)
{
    const QString tail = suffix.isEmpty() ? QString() : QLatin1Char(' ') + suffix;
    if (bytes <= 1023)
        return QString::number(bytes) + QLatin1String(" B") + tail;
    if (bytes <= 1048575)
        return QString::number(bytes / 1024) + QLatin1String(" KB") + tail;
    // QString::number never uses the locale, so the decimal point is always ".".
    return QString::number(double(bytes) / 1048576.0, 'f', 1) + QLatin1String(" MB") + tail;
}
