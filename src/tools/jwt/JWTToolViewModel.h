#pragma once

#include "kit/PaneBadge.h"
#include "kit/QuietTask.h"
#include "tools/jwt/JWTDecoder.h"
#include "tools/jwt/JWTVerifier.h"

#include "kit/CodeTextSnapshot.h"

#include <QObject>
#include <QString>

#include <functional>
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

    // After the user's edits, built from the editor's latest snapshot when first asked for.
    const QString& token() const { return m_token.value(); }
    const QString& key() const { return m_key.value(); }
    bool isTokenEmpty() const { return m_token.isEmpty(); }
    bool isKeyEmpty() const { return m_key.isEmpty(); }
    bool secretIsBase64() const { return m_secretIsBase64; }
    // Every assignment counts; a run is scheduled only when the text really changed.
    void setToken(const QString& token);
    void setKey(const QString& key);
    // An editor's own change, as the text after it; the editor shows it already. A token or
    // key is decoded whole, so the edited range would not spare any work.
    void editToken(const CodeTextSnapshot& snapshot);
    void editKey(const CodeTextSnapshot& snapshot);
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
    // A text kept as an editor's snapshot after its edits, made whole when first read.
    struct Field {
        mutable QString text;
        mutable CodeTextSnapshot edited;
        mutable bool fromEdit = false;
        const QString& value() const;
        bool isEmpty() const { return fromEdit ? edited.isEmpty() : text.isEmpty(); }
        // Builds the text where it is called (off the GUI thread).
        std::function<QString()> maker() const;
    };
    void setText(Field& field, const QString& text, void (JWTToolViewModel::*changed)());
    void editText(Field& field, const CodeTextSnapshot& snapshot, void (JWTToolViewModel::*changed)());
    void publish(RunResult result);

    Field m_token;
    Field m_key;
    bool m_secretIsBase64 = false;
    std::optional<JWTDecoder::Decoded> m_decoded;
    std::optional<JWTDecoder::Failure> m_failure;
    std::optional<JWTVerifier::Outcome> m_verification;
    quint64 m_textGeneration = 0;
    std::optional<Inputs> m_requestedInputs;
    QuietTask m_task;
};
