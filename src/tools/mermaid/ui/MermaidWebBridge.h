#pragma once

#include <QObject>
#include <QUrl>
#include <QVariant>

// The object the diagram page reaches over the web channel: answers to the program's calls, by
// request id, the page's "viewState" messages and the links the user clicks.
class MermaidWebBridge : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE void reply(double id, bool ok, const QVariant& value) { emit replied(quint64(id), ok, value); }
    Q_INVOKABLE void viewState(const QVariant& body) { emit viewStatePosted(body); }
    // A link the user clicked in the diagram.
    Q_INVOKABLE void openLink(const QString& url) { emit linkClicked(QUrl(url)); }

signals:
    void replied(quint64 id, bool ok, const QVariant& value);
    void viewStatePosted(const QVariant& body);
    void linkClicked(const QUrl& url);
};
