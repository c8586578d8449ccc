#pragma once

#include <QObject>
#include <QVariant>

// The object behind the page's "sync" message handler, published over the web channel.
class MarkdownWebBridge : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Called by the page with one message (an object of plain values).
    Q_INVOKABLE void post(const QVariant& message) { emit messagePosted(message); }

signals:
    void messagePosted(const QVariant& message);
};
