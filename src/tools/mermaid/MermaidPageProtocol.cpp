#include "tools/mermaid/MermaidPageProtocol.h"

#include <QDir>
#include <QVariantMap>

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

bool isStrictBase64(QStringView text)
{
    if (text.size() % 4 != 0)
        return false;
    qsizetype padding = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'=') {
            ++padding;
            continue;
        }
        if (padding > 0)
            return false;
        const bool ok = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+'
            || c == u'/';
        if (!ok)
            return false;
    }
    return padding <= 2;
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
        return Rendered{integer(map.value(QStringLiteral("svgBytes"))).value_or(0)};
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
    const QStringView base64 = QStringView(text).mid(pngPrefix.size());
    if (!isStrictBase64(base64))
        return std::nullopt;
    auto decoded = QByteArray::fromBase64Encoding(base64.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
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
