#include "tools/mermaid/MermaidPageProtocol.h"

#include <QDir>
#include <QVariantMap>

#include <array>
#include <cmath>
#include <limits>

namespace MermaidPageProtocol {

namespace {

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Long:
    case QMetaType::ULong:
        return true;
    default:
        return false;
    }
}

// An integer the page sent; a script number is a double, so a whole finite double counts.
std::optional<qint64> integer(const QVariant& value)
{
    if (!isNumber(value))
        return std::nullopt;
    const double d = value.toDouble();
    if (!std::isfinite(d) || d != std::floor(d) || std::abs(d) > 9007199254740992.0)
        return std::nullopt;
    return qint64(d);
}

// The value of a Base64 digit; 0x80 for anything else, padding included.
constexpr std::array<quint8, 128> base64Digits = [] {
    std::array<quint8, 128> table{};
    table.fill(0x80);
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (quint8 i = 0; i < 64; ++i)
        table[quint8(alphabet[i])] = i;
    return table;
}();

quint32 base64Digit(char16_t c)
{
    return c < 128 ? base64Digits[c] : 0x80;
}

// Strict Base64 (no white space, no stray characters, padding only at the end) in one pass: the
// answer is a few megabytes at most, decoded on the GUI thread.
std::optional<QByteArray> strictBase64(QStringView text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    const qsizetype padding = text.endsWith(u"==") ? 2 : text.endsWith(u'=') ? 1 : 0;
    const qsizetype digits = text.size() - padding;
    QByteArray bytes(text.size() / 4 * 3 - padding, Qt::Uninitialized);
    const char16_t* in = text.utf16();
    char* out = bytes.data();
    qsizetype i = 0;
    for (; i + 4 <= digits; i += 4) {
        const quint32 a = base64Digit(in[i]), b = base64Digit(in[i + 1]), c = base64Digit(in[i + 2]),
                      d = base64Digit(in[i + 3]);
        if ((a | b | c | d) & 0x80)
            return std::nullopt;
        const quint32 v = a << 18 | b << 12 | c << 6 | d;
        *out++ = char(v >> 16);
        *out++ = char(v >> 8);
        *out++ = char(v);
    }
    if (i < digits) {
        // Two or three digits before the padding: one or two bytes.
        quint32 v = 0, invalid = 0;
        for (qsizetype k = 0; k < 3; ++k) {
            const quint32 digit = i + k < digits ? base64Digit(in[i + k]) : 0;
            invalid |= digit;
            v = v << 6 | (digit & 0x3F);
        }
        if (invalid & 0x80)
            return std::nullopt;
        *out++ = char(v >> 10);
        if (digits - i == 3)
            *out++ = char(v >> 2);
    }
    return bytes;
}

// The texts of a list; anything else in it, or a value that is no list, gives none.
QStringList textList(const QVariant& value)
{
    QStringList texts;
    if (value.typeId() != QMetaType::QVariantList)
        return texts;
    for (const QVariant& item : value.toList()) {
        if (item.typeId() == QMetaType::QString && !item.toString().isEmpty())
            texts << item.toString();
    }
    return texts;
}

} // namespace

bool bootReady(const QVariant& answer)
{
    return answer.typeId() == QMetaType::Bool && answer.toBool();
}

std::optional<Outcome> renderOutcome(bool ok, const QVariant& answer)
{
    if (!ok) {
        const QString message = answer.typeId() == QMetaType::QString ? answer.toString() : QString();
        return Failed{message.isEmpty() ? unknownErrorMessage : message, std::nullopt};
    }
    if (answer.typeId() != QMetaType::QVariantMap)
        return Failed{noResultMessage, std::nullopt};
    const QVariantMap map = answer.toMap();
    if (map.value(QStringLiteral("superseded")).typeId() == QMetaType::Bool
        && map.value(QStringLiteral("superseded")).toBool())
        return std::nullopt;
    const QVariant okValue = map.value(QStringLiteral("ok"));
    if (okValue.typeId() == QMetaType::Bool && okValue.toBool())
        return Rendered{integer(map.value(QStringLiteral("svgBytes"))).value_or(0),
                        textList(map.value(QStringLiteral("ignored")))};
    const QVariant message = map.value(QStringLiteral("message"));
    return Failed{message.typeId() == QMetaType::QString ? message.toString() : unknownErrorMessage,
                  integer(map.value(QStringLiteral("line")))};
}

std::optional<QString> svgText(bool ok, const QVariant& answer)
{
    if (!ok || answer.typeId() != QMetaType::QString)
        return std::nullopt;
    return answer.toString();
}

std::optional<QByteArray> pngBytes(bool ok, const QVariant& answer)
{
    if (!ok || answer.typeId() != QMetaType::QString)
        return std::nullopt;
    const QString text = answer.toString();
    if (!text.startsWith(pngPrefix))
        return std::nullopt;
    return strictBase64(QStringView(text).mid(pngPrefix.size()));
}

std::optional<double> viewStateScale(const QVariant& body)
{
    if (!isNumber(body))
        return std::nullopt;
    const double scale = body.toDouble();
    if (!std::isfinite(scale))
        return std::nullopt;
    return scale;
}

bool isShellPage(const QUrl& url, const QUrl& shellURL)
{
    if (url.isEmpty() || !url.isValid() || shellURL.isEmpty())
        return false;
    if (url.scheme().toLower() != shellURL.scheme().toLower())
        return false;
    if (!url.host().isEmpty() || url.hasQuery() || url.hasFragment())
        return false;
    return QDir::cleanPath(url.path()) == QDir::cleanPath(shellURL.path());
}

Decision decide(const QUrl& url, Navigation navigation, bool mainFrame, const QUrl& shellURL)
{
    if (url.isEmpty() || url.scheme().isEmpty())
        return {};
    const QString scheme = url.scheme().toLower();
    if (navigation == Navigation::linkActivated)
        return {false, scheme == u"http" || scheme == u"https"};
    const bool programLoad = navigation == Navigation::reload || navigation == Navigation::other
        || navigation == Navigation::typed;
    return {programLoad && mainFrame && isShellPage(url, shellURL), false};
}

} // namespace MermaidPageProtocol
