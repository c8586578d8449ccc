#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

// The object the diagram page reaches over the web channel: answers to the program's calls, by
// request id, the page's "viewState" messages, the links the user clicks and a beat while the
// page's thread is free. A long answer comes
// as leading parts and then the reply with its last part; it is passed on whole.
class MermaidWebBridge : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    Q_INVOKABLE void replyPart(double id, const QString& part) { m_parts[quint64(id)] += part; }
    Q_INVOKABLE void reply(double id, bool ok, const QVariant& value)
    {
        const auto parts = m_parts.find(quint64(id));
        if (parts == m_parts.end()) {
            emit replied(quint64(id), ok, value);
            return;
        }
        QString whole = std::move(*parts);
        m_parts.erase(parts);
        if (value.typeId() != QMetaType::QString) {
            emit replied(quint64(id), ok, value);
            return;
        }
        whole += value.toString();
        emit replied(quint64(id), ok, QVariant(std::move(whole)));
    }
    Q_INVOKABLE void viewState(const QVariant& body) { emit viewStatePosted(body); }
    // The page's thread is free, sent every second.
    Q_INVOKABLE void alive() { emit pageAlive(); }
    // A link the user clicked in the diagram.
    Q_INVOKABLE void openLink(const QString& url) { emit linkClicked(QUrl(url)); }

    // Drops the parts of answers that will never end (the page went away).
    void discardParts() { m_parts.clear(); }

signals:
    void replied(quint64 id, bool ok, const QVariant& value);
    void viewStatePosted(const QVariant& body);
    void linkClicked(const QUrl& url);
    void pageAlive();

private:
    QHash<quint64, QString> m_parts;
};
