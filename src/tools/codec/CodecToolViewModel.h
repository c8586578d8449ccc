#pragma once

#include "kit/CodeTextBuffer.h"
#include "kit/CodeTextSnapshot.h"
#include "kit/TextEdit.h"
#include "kit/PaneBadge.h"
#include "kit/QuietTask.h"
#include "tools/codec/Codec.h"

#include <QObject>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

// The state of the Encode / Decode tool, one per window: the input and the user's choices, the
// last result, and the text the Output pane shows (a hex dump re-rendered to the width that fits).
// The transform runs off the GUI thread after a quiet time; a newer request cancels the older run.
class CodecToolViewModel : public QObject {
    Q_OBJECT
public:
    explicit CodecToolViewModel(QObject* parent = nullptr);
    ~CodecToolViewModel() override;

    // Base64 of gzip data holding a small JSON object: the start choices show unpacking and
    // formatting at work.
    static QString sampleInput();

    // Answers the editor's text as it is when called, sharing its blocks.
    using SnapshotSource = std::function<CodeTextSnapshot()>;

    // After the user's edits, built from a snapshot of the editor when first asked for (the
    // transform reads its own snapshot off the GUI thread, as UTF-8, after the quiet time).
    const QString& input() const;
    bool isInputEmpty() const { return m_inputFromEdit ? m_editedLength == 0 : m_input.isEmpty(); }
    void setInput(const QString& text);
    // The input editor's own change; the editor shows it already. The snapshot is taken only
    // when the text is needed: one held while the user types would make each keystroke copy
    // the block it edits (a whole line of Base64). `snapshot` must answer until the next change
    // of the input, or until input() was asked for.
    void editInput(const TextEdit& edit, SnapshotSource snapshot);
    Codec::Scheme scheme() const { return m_scheme; }
    void setScheme(Codec::Scheme scheme);
    Codec::Direction direction() const { return m_direction; }
    void setDirection(Codec::Direction direction);
    const Codec::Options& options() const { return m_options; }
    void setOptions(const Codec::Options& options);

    const std::optional<Codec::Output>& output() const { return m_output; }
    const std::optional<Codec::Failure>& failure() const { return m_failure; }
    // The scheme of the run whose result is published (the failure headline names it).
    Codec::Scheme resultScheme() const { return m_resultScheme; }
    const QString& shownOutput() const { return m_shownOutput; }
    // The shown text already split into lines off the GUI thread (long texts only), once.
    std::optional<CodeTextBuffer> takeShownOutputBuffer();
    int dumpBytesPerRow() const { return m_dumpBytesPerRow; }
    std::optional<int> shownBytesPerRow() const { return m_shownBytesPerRow; }
    quint64 outputGeneration() const { return m_outputGeneration; }
    quint64 inputGeneration() const { return m_inputGeneration; }
    qsizetype inputLineCount() const { return m_inputLineCount; }
    qint64 inputByteSize() const { return m_inputByteSize; }
    qsizetype outputLineCount() const { return m_outputLineCount; }

    // Requests a transform of the current input and choices after the quiet time.
    void scheduleTransform() { startTransform(false); }
    // Requests one only when the inputs differ from the last request's (or none was made).
    void transformIfStale();
    // Re-renders the dump when the wanted row width differs from the one shown.
    void refreshDump();
    // Told the columns the Output pane can show; answers whether a re-rendered dump is pending.
    bool fitDump(int columns);

    std::optional<PaneBadge> inputBadge() const;
    std::optional<PaneBadge> outputBadge() const;
    bool canSwap() const;
    void swap();
    void copyOutput();
    // The result's text as copied: the decoded or encoded text, or the dump of 16 bytes a row.
    QString outputText() const;
    // Plain text on the clipboard, replacing all of its contents; an empty text does nothing.
    static void copyToPasteboard(const QString& text);

    // Tests shorten the quiet time (150 ms).
    void setQuietTime(int ms)
    {
        m_transformTask.setQuietTime(ms);
        m_editQuiet.setInterval(ms);
    }
    bool isTransformPending() const
    {
        return m_editQuiet.isActive() || m_transformTask.isPending() || m_transformTask.isRunning();
    }

signals:
    void inputChanged();
    void schemeChanged();
    void directionChanged();
    void optionsChanged();
    void outputLineCountChanged();
    void outputGenerationChanged();
    void outputChanged();
    void failureChanged();
    void shownOutputChanged();
    void inputMetricsChanged();
    // After every publication of a transform result.
    void transformPublished();

private:
    struct Inputs {
        quint64 inputGeneration = 0;
        Codec::Scheme scheme = Codec::Scheme::base64;
        Codec::Direction direction = Codec::Direction::decode;
        Codec::Options options;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };
    struct Run {
        Codec::Result result;
        qsizetype lineCount = 0;
        QString shown;
        std::optional<CodeTextBuffer> buffer;
        int rowWidth = 16;
        Codec::Scheme scheme = Codec::Scheme::base64;
        // The counts of the input built from the editor's snapshot, for the generation named.
        std::optional<quint64> builtGeneration;
        qsizetype inputLineCount = 0;
        qint64 inputByteSize = 0;
    };

    void startTransform(bool now);
    void inputDidChange(const QString& previous);
    void updateInputMetrics(const QString& previous);
    void publish(Run run);
    void setDumpBytesPerRow(int width);

    mutable QString m_input;
    // Set by the user's edits until the input is built from the editor.
    mutable SnapshotSource m_editSource;
    mutable bool m_inputFromEdit = false;
    qsizetype m_editedLength = 0;
    // The quiet time after the user's edits, at the end of which the editor's text is taken.
    QTimer m_editQuiet;
    Codec::Scheme m_scheme = Codec::Scheme::base64;
    Codec::Direction m_direction = Codec::Direction::decode;
    Codec::Options m_options{false, false, true, true};
    std::optional<Codec::Output> m_output;
    std::optional<Codec::Failure> m_failure;
    Codec::Scheme m_resultScheme = Codec::Scheme::base64;
    QString m_shownOutput;
    std::optional<CodeTextBuffer> m_shownBuffer;
    int m_dumpBytesPerRow = 16;
    // The row width for runs to read when they start, off the GUI thread.
    std::shared_ptr<std::atomic_int> m_rowWidth = std::make_shared<std::atomic_int>(16);
    std::optional<int> m_shownBytesPerRow;
    quint64 m_outputGeneration = 0;
    qsizetype m_inputLineCount = 0;
    qint64 m_inputByteSize = 0;
    qsizetype m_outputLineCount = 0;
    QuietTask m_transformTask{150, this};
    QuietTask m_dumpTask{0, this};
    quint64 m_inputGeneration = 0;
    std::optional<Inputs> m_requestedInputs;
};
