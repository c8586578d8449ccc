#pragma once

#include "kit/PaneBadge.h"
#include "kit/QuietTask.h"
#include "tools/jwt/JWTDecoder.h"
#include "tools/jwt/JWTVerifier.h"

#include <QObject>
#include <QString>

#include <optional>

// The JWT tool's state: the token, the key and the Base64 switch, and the results of the last
// run (the decoded token or why it failed, and the signature's outcome). An edit schedules a
// run after a quiet time; the run decodes and checks off the GUI thread from one reading of the
// token and publishes both results at once. Badges, the key hint and the verdict are computed
// from the published state.
class JWTToolViewModel : public QObject {
    Q_OBJECT
public:
    static constexpr int defaultQuietMs = 120;

    explicit JWTToolViewModel(QObject* parent = nullptr, int quietMs = defaultQuietMs);

    static QString sampleToken();

    const QString& token() const { return m_token; }
    const QString& key() const { return m_key; }
    bool secretIsBase64() const { return m_secretIsBase64; }
    // Every assignment counts; a run is scheduled only when the text really changed.
    void setToken(const QString& token);
    void setKey(const QString& key);
    // Schedules nothing by itself: the view calls refresh() when it changes.
    void setSecretIsBase64(bool on);

    const std::optional<JWTDecoder::Decoded>& decoded() const { return m_decoded; }
    const std::optional<JWTDecoder::Failure>& failure() const { return m_failure; }
    const std::optional<JWTVerifier::Outcome>& verification() const { return m_verification; }

    void refresh();
    // refresh() unless the current inputs were requested already.
    void refreshIfNeeded();
    bool isRunPending() const { return m_task.isPending() || m_task.isRunning(); }

    std::optional<PaneBadge> decodeBadge() const;
    std::optional<PaneBadge> verificationBadge() const;
    static PaneBadge algorithmBadge(const JWTDecoder::Decoded& decoded);
    // `now` in seconds since 1970.
    static std::optional<PaneBadge> timeBadge(const JWTDecoder::Decoded& decoded, double now);
    std::optional<JWTVerifier::Algorithm> headerAlgorithm() const;
    QString keyHint() const;
    bool showsVerdict() const;
    QString verdict() const;
    qint64 tokenByteCount() const;

signals:
    void tokenChanged();
    void keyChanged();
    void secretIsBase64Changed();
    // decoded, failure and verification changed together.
    void resultsChanged();

private:
    struct Inputs {
        quint64 textGeneration = 0;
        bool secretIsBase64 = false;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };
    struct RunResult {
        JWTDecoder::Result decoded;
        std::optional<JWTVerifier::Outcome> outcome;
    };
    void setText(QString& field, const QString& text, void (JWTToolViewModel::*changed)());
    void publish(RunResult result);

    QString m_token;
    QString m_key;
    bool m_secretIsBase64 = false;
    std::optional<JWTDecoder::Decoded> m_decoded;
    std::optional<JWTDecoder::Failure> m_failure;
    std::optional<JWTVerifier::Outcome> m_verification;
    quint64 m_textGeneration = 0;
    std::optional<Inputs> m_requestedInputs;
    QuietTask m_task;
};
