#include "tools/markdown/ui/MarkdownPageDocument.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

// Resources of a static library are registered by hand, outside any namespace.
static void initMarkdownResources()
{
    Q_INIT_RESOURCE(markdown);
}

namespace MarkdownPageDocument {

namespace {

QString resourceText(const QString& path)
{
    initMarkdownResources();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing resource %s", qPrintable(path));
    return QString::fromUtf8(file.readAll());
}

// Replaces the one marker in `text` without scanning what is put in.
QString fill(const QString& text, QLatin1StringView marker, const QString& value)
{
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        qFatal("page template lacks %s", marker.data());
    return text.left(at) + value + text.mid(at + marker.size());
}

} // namespace

const QString& markdownPreviewScript()
{
    static const QString script = resourceText(QStringLiteral(":/markdown/preview.js"));
    return script;
}

const QString& markdownPreviewScriptDigest()
{
    static const QString digest = QStringLiteral("sha256-")
        + QString::fromLatin1(QCryptographicHash::hash(markdownPreviewScript().toUtf8(), QCryptographicHash::Sha256).toBase64());
    return digest;
}

const QString& markdownPreviewPolicy()
{
    static const QString policy = QStringList{
        QStringLiteral("default-src 'none'"),
        QStringLiteral("script-src '%1'").arg(markdownPreviewScriptDigest()),
        QStringLiteral("style-src 'unsafe-inline'"),
        QStringLiteral("img-src 'self' https: http: data: quorrix-doc:"),
        QStringLiteral("base-uri 'none'"),
        QStringLiteral("form-action 'none'"),
        QStringLiteral("frame-src 'none'"),
        QStringLiteral("object-src 'none'"),
        QStringLiteral("connect-src 'none'"),
    }.join(QStringLiteral("; "));
    return policy;
}

const QString& markdownPreviewPage()
{
    static const QString page = [] {
        QString text = resourceText(QStringLiteral(":/markdown/preview.html"));
        // The script goes in last, so nothing inside it is ever taken for a marker.
        text = fill(text, QLatin1StringView("{{policy}}"), markdownPreviewPolicy());
        text = fill(text, QLatin1StringView("{{style}}"), resourceText(QStringLiteral(":/markdown/preview.css")));
        text = fill(text, QLatin1StringView("{{script}}"), markdownPreviewScript());
        return text;
    }();
    return page;
}

QString markdownPreviewPage(bool dark)
{
    const QString& page = markdownPreviewPage();
    if (!dark)
        return page;
    // The first "<html>" is the root element's own tag: the template's text comes before the script.
    return fill(page, QLatin1StringView("<html>"), QStringLiteral("<html class=\"dark\">"));
}

QString appearanceScript(bool dark, qreal textScale)
{
    return QStringLiteral("document.documentElement.classList.toggle('dark', %1);"
                          "document.documentElement.style.setProperty('--text-scale', '%2');")
        .arg(dark ? QStringLiteral("true") : QStringLiteral("false"), QString::number(textScale, 'f', 4));
}

const QString& bridgeScript()
{
    static const QString script = resourceText(QStringLiteral(":/qtwebchannel/qwebchannel.js")) + QLatin1Char('\n')
        + resourceText(QStringLiteral(":/markdown/bridge.js"));
    return script;
}

const QString& handlerScript()
{
    static const QString script = resourceText(QStringLiteral(":/markdown/handlers.js"));
    return script;
}

} // namespace MarkdownPageDocument
