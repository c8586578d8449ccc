#pragma once

#include <QHash>
#include <QByteArray>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <optional>

// The object the diagram page reaches over the web channel: answers to the program's calls, by
// request id, the page's "viewState" messages, the links the user clicks and a beat while the
// page's thread is free. A long answer comes as leading parts and then the reply with its last
// part; it is passed on whole. An answer counts only with the token its call was given
// (`expect`): one made up by a script of the page's is dropped, parts and all.
class MermaidWebBridge : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // The token the answer to call `id` must carry; a new one for every call.
    QString expect(quint64 id)
    {
        const quint64 words[2] = {QRandomGenerator::system()->generate64(), QRandomGenerator::system()->generate64()};
        QString token = QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
        m_tokens.insert(id, token);
        return token;
    }

    Q_INVOKABLE void replyPart(double id, const QString& part) { m_parts[quint64(id)] += part; }
    Q_INVOKABLE void reply(double id, const QString& token, bool ok, const QVariant& value)
    {
        const quint64 key = quint64(id);
        std::optional<QString> parts;
        if (const auto found = m_parts.find(key); found != m_parts.end()) {
            parts = std::move(*found);
            m_parts.erase(found);
        }
        const auto expected = m_tokens.find(key);
        if (expected == m_tokens.end() || token.isEmpty() || *expected != token)
            return;
        m_tokens.erase(expected);
        if (!parts || value.typeId() != QMetaType::QString) {
            emit replied(key, ok, value);
            return;
        }
        *parts += value.toString();
        emit replied(key, ok, QVariant(std::move(*parts)));
    }
    Q_INVOKABLE void viewState(const QVariant& body) { emit viewStatePosted(body); }
    // The page's thread is free, sent every second.
    Q_INVOKABLE void alive() { emit pageAlive(); }
    // A link the user clicked in the diagram.
    Q_INVOKABLE void openLink(const QString& url) { emit linkClicked(QUrl(url)); }

    // Drops the parts of answers that will never end, and the calls that will never be
    // answered (the page went away).
    void discardParts()
    {
        m_parts.clear();
        m_tokens.clear();
    }

signals:
    void replied(quint64 id, bool ok, const QVariant& value);
    void viewStatePosted(const QVariant& body);
    void linkClicked(const QUrl& url);
    void pageAlive();

private:
    QHash<quint64, QString> m_parts;
    QHash<quint64, QString> m_tokens;
};
