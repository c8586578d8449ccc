#pragma once

#include <QByteArray>
#include <QStringView>

// UTF-16 to UTF-8 into a buffer of exactly the right size: a lone surrogate becomes U+FFFD. Wide
// loops where the processor has AVX2 (checked at run time), plain ones elsewhere; a large text is
// encoded in parts side by side. Keeps no state; any thread may call it.
class Utf8Encoder {
public:
    Utf8Encoder() = delete;

    static qsizetype encodedLength(QStringView text);

    // Writes encodedLength(text) bytes at `out`; answers the end of what it wrote.
    static char* encode(QStringView text, char* out);

    static QByteArray toUtf8(QStringView text);
};
