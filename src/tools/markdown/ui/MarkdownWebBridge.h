#pragma once

#include <QObject>
#include <QUrl>
#include <QVariant>

// The object behind the page's "sync" message handler, published over the web channel, which
// also hears of the links the user clicks.
class MarkdownWebBridge : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Called by the page with one message (an object of plain values).
    Q_INVOKABLE void post(const QVariant& message) { emit messagePosted(message); }
    // A link the user clicked in the page, made absolute.
    Q_INVOKABLE void openLink(const QString& url) { emit linkClicked(QUrl(url)); }

signals:
    void messagePosted(const QVariant& message);
    void linkClicked(const QUrl& url);
};
