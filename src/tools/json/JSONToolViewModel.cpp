#include "tools/json/JSONToolViewModel.h"

#include "formats/Utf8Decoder.h"
#include "formats/FreedMemory.h"
#include "formats/RunParts.h"
#include "formats/Utf8Encoder.h"
#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"
#include "kit/TextUnits.h"
#include "formats/JSONSyntaxTokens.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>

#include <climits>
#include <memory>

using JSONFormatter::Indent;
using JSONFormatter::SortMode;

// What a format run makes: the verdict and the output on show (the other is made when asked
// for), left out when it equals the one shown.
struct JSONToolViewModel::FormatRun {
    JSONFormatter::Validation validation;
    OutputMode mode = OutputMode::formatted;
    bool changed = false;
    Output output;
};

// What a format run hands over before it ends: the input's metrics.
struct JSONToolViewModel::FormatStage {
    std::optional<JSONTextMetrics> inputMetrics;
};

// A made output as a worker reads it: the model's text, or a snapshot of the output editor,
// let go once read.
struct JSONToolViewModel::OutputRead {
    QByteArray text;
    std::shared_ptr<CodeTextSnapshot> snapshot;

    QString whole() const
    {
        if (!snapshot)
            return Utf8Decoder::decodeReplacing(text, Utf8Decoder::ByteOrderMark::keep);
        const QString out = snapshot->text();
        *snapshot = CodeTextSnapshot();
        return out;
    }
    // Read part by part: a formatted output in many blocks is never joined for this.
    bool equals(const QByteArray& made) const
    {
        if (!snapshot)
            return text == made;
        bool same = true;
        qsizetype at = 0;
        snapshot->forEachPart([&](QStringView part) {
            const QByteArray bytes = Utf8Encoder::toUtf8(part);
            same = made.size() - at >= bytes.size() && QByteArrayView(made).sliced(at, bytes.size()) == bytes;
            at += bytes.size();
            return same;
        });
        *snapshot = CodeTextSnapshot();
        return same && at == made.size();
    }
};

// The input as a worker reads it: a text, or the UTF-8 of a file read whole.
struct JSONToolViewModel::InputRead {
    QString text;
    QByteArray utf8;

    bool isUTF8() const { return !utf8.isNull(); }
    QString whole() const { return isUTF8() ? Utf8Decoder::decodeReplacing(utf8, Utf8Decoder::ByteOrderMark::keep) : text; }
    // The output of one mode, made on the calling thread.
    QByteArray printed(OutputMode mode, Indent indent, SortMode sortMode) const
    {
        const bool pretty = mode == OutputMode::formatted;
        if (isUTF8())
            return pretty ? JSONFormatter::format(utf8, indent, sortMode).text : JSONFormatter::minify(utf8, sortMode).text;
        return pretty ? JSONFormatter::format(text, indent, sortMode).text : JSONFormatter::minify(text, sortMode).text;
    }
};

struct JSONToolViewModel::OpenedText {
    QString text;
    QByteArray utf8; // a large file's text instead, with its length in units
    qsizetype utf8Length = 0;
    std::shared_ptr<CodeTextBuffer> buffer;
};

namespace {

// From this size on a text's lines are split off the GUI thread: splitting them there when the
// text is shown as a new one would stall the window.
constexpr qsizetype kLargeText = 1 << 16;

// Thrown by the hand-over of the first output, so that the second is not printed.
struct FirstOutputTaken {};

// An output with its sizes, and its lines split when it is large (its ASCII read in place).
void completeOutput(const QByteArray& text, JSONTextMetrics& metrics, std::shared_ptr<CodeTextBuffer>& buffer,
                    const std::atomic_bool& cancelled)
{
    runParts(text.size() >= kLargeText ? 2 : 1, [&](qsizetype k) {
        if (k == 0)
            metrics = JSONTextMetrics(text);
        else if (!cancelled)
            buffer = std::make_shared<CodeTextBuffer>(CodeTextBuffer::fromUtf8(text));
    });
}

} // namespace

JSONToolViewModel::JSONToolViewModel(QObject* parent)
    : QObject(parent), m_text(sampleDocument()), m_inputMetrics(m_text), m_formatTask(formatQuietMs),
      m_searchTask(searchQuietMs)
{
    m_editQuiet.setSingleShot(true);
    m_editQuiet.setTimerType(Qt::PreciseTimer);
    m_editQuiet.setInterval(formatQuietMs);
    connect(&m_editQuiet, &QTimer::timeout, this, [this] { startFormat(true); });
    m_opener.setMemoryPerFileByte(memoryPerFileByte);
    // A run that fails (memory runs out) keeps what is shown and says so.
    for (QuietTask* task : {&m_formatTask, &m_searchTask, &m_outputTask})
        task->setFailureHandler(
            [this](QuietTask::Failure failure) { setOpenError(QuietTask::failureSentence(failure)); });
}

JSONToolViewModel::~JSONToolViewModel() = default;

QString JSONToolViewModel::sampleDocument()
{
    return QStringLiteral("{\n"
                          "  \"tool\": \"JSON\",\n"
                          "  \"actions\": [\"Format\", \"Minify\", \"Validate\"],\n"
                          "  \"indent\": 2,\n"
                          "  \"sortKeys\": false\n"
                          "}");
}

template <class Text>
void JSONToolViewModel::letGo(Text& text)
{
    // Freeing a large text gives its pages back to the system, which would hold up the window.
    if (text.size() >= kLargeText)
        FreedMemory::release(std::exchange(text, Text()));
    else
        text = Text();
}

int JSONToolViewModel::bumped(int generation)
{
    return generation == INT_MAX ? 0 : generation + 1;
}

QString JSONToolViewModel::text() const
{
    if (!m_utf8.isNull())
        return Utf8Decoder::decodeReplacing(m_utf8, Utf8Decoder::ByteOrderMark::keep);
    if (m_textFromEdit)
        return TextHelpers::repairedUTF16(m_editSource().text());
    return m_text;
}

std::function<JSONToolViewModel::InputRead()> JSONToolViewModel::textMaker() const
{
    // The file's bytes, which the input editor reads in place, until the text is edited.
    if (!m_utf8.isNull())
        return [utf8 = m_utf8] { return InputRead{QString(), utf8}; };
    if (!m_textFromEdit)
        return [text = m_text] { return InputRead{text, QByteArray()}; };
    CodeTextSnapshot now = m_editSource();
    return [snapshot = std::make_shared<CodeTextSnapshot>(std::move(now)), own = m_userEdited] {
        // The snapshot is let go at once: while it shares a block of the editor, the next
        // keystroke copies that block. While typing goes on, the text is the worker's own for
        // the same reason; a text just set is shared, as a copy would double its size.
        const QString text = TextHelpers::repairedUTF16(snapshot->text());
        *snapshot = CodeTextSnapshot();
        return InputRead{!own || text.isDetached() ? text : QString(text.constData(), text.size()), QByteArray()};
    };
}

std::optional<JSONToolViewModel::OutputRead> JSONToolViewModel::outputRead(OutputMode mode) const
{
    const Output& out = output(mode);
    if (!out.made)
        return std::nullopt;
    if (!out.inEditor)
        return OutputRead{out.text, nullptr};
    return OutputRead{QByteArray(), std::make_shared<CodeTextSnapshot>(m_outputSource())};
}

QString JSONToolViewModel::outputText(OutputMode mode) const
{
    if (output(mode).inEditor)
        return m_outputSource().text();
    return Utf8Decoder::decodeReplacing(madeOutput(mode).text, Utf8Decoder::ByteOrderMark::keep);
}

void JSONToolViewModel::leaveTextToEditor()
{
    if (!m_inputSource || m_textFromEdit)
        return;
    m_editedLength = storedLength();
    m_editSource = m_inputSource;
    m_textFromEdit = true;
    m_userEdited = false;
    m_text = QString();
}

void JSONToolViewModel::leaveOutputToEditor()
{
    if (!m_outputSource)
        return;
    // The editor shows one output only; one it showed before is made again when asked for.
    Output& other = output(m_shownMode == OutputMode::formatted ? OutputMode::minified : OutputMode::formatted);
    if (other.inEditor) {
        Output unmade;
        unmade.metrics = other.metrics;
        other = std::move(unmade);
    }
    Output& shown = output(m_shownMode);
    if (shown.made && !shown.inEditor) {
        shown.length = shown.text.size();
        letGo(shown.text);
        shown.buffer.reset();
        shown.inEditor = true;
    }
}

void JSONToolViewModel::setInputSource(SnapshotSource source)
{
    if (!source && m_textFromEdit) {
        m_text = text();
        m_utf8 = QByteArray();
        m_editSource = nullptr;
        m_textFromEdit = false;
    }
    m_inputSource = std::move(source);
    leaveTextToEditor();
}

void JSONToolViewModel::setOutputSource(SnapshotSource source)
{
    if (!source && m_outputSource) {
        Output& shown = output(m_shownMode);
        if (shown.inEditor) {
            shown.text = Utf8Encoder::toUtf8(m_outputSource().text());
            shown.inEditor = false;
        }
    }
    m_outputSource = std::move(source);
    leaveOutputToEditor();
}

void JSONToolViewModel::storeText(const QString& text)
{
    // The editors hold LF only; offsets of matches and selections must agree with them.
    m_text = text.contains(u'\r') ? TextHelpers::normalizedLineBreaks(text) : text;
    m_utf8 = QByteArray();
    m_editSource = nullptr;
    m_textFromEdit = false;
    m_userEdited = false;
    m_editQuiet.stop();
    m_textGeneration = bumped(m_textGeneration);
}

void JSONToolViewModel::editText(const TextEdit& edit, SnapshotSource snapshot)
{
    if (!m_textFromEdit)
        m_editedLength = storedLength();
    m_editedLength += edit.changeInLength();
    // The editor reads the bytes in place: they go when no block of it reads them.
    m_utf8 = QByteArray();
    m_editSource = std::move(snapshot);
    m_textFromEdit = true;
    m_userEdited = true;
    m_text = QString();
    m_textGeneration = bumped(m_textGeneration);
    if (!m_opener.droppedForAnEdit())
        setOpenError(QString());
    m_opener.markEdited();
    emit textChanged();
    // Formatting (and the search after it) starts when the quiet time ends.
    m_requestedInputs = Inputs{m_textGeneration, m_indent, m_sortMode};
    m_formatTask.cancel();
    m_outputTask.cancel();
    m_searchTask.cancel();
    m_editQuiet.start();
}

void JSONToolViewModel::setText(const QString& text)
{
    storeText(text);
    if (!m_opener.droppedForAnEdit())
        setOpenError(QString());
    m_opener.markEdited();
    emit textChanged();
    leaveTextToEditor();
    scheduleFormat();
}

void JSONToolViewModel::setIndent(Indent indent)
{
    m_indent = indent;
    emit indentChanged();
}

void JSONToolViewModel::setSortMode(SortMode mode)
{
    m_sortMode = mode;
    emit sortModeChanged();
}

void JSONToolViewModel::resetOutputSelection()
{
    m_outputSelection = TextRange{0, 0};
    m_outputGeneration = bumped(m_outputGeneration);
}

void JSONToolViewModel::setOutputMode(OutputMode mode)
{
    const bool changed = mode != m_outputMode;
    m_outputMode = mode;
    if (changed)
        resetOutputSelection();
    emit outputModeChanged();
    if (changed)
        showChosenOutput();
}

void JSONToolViewModel::showChosenOutput()
{
    m_outputTask.cancel();
    const OutputMode mode = m_outputMode;
    // A run under way makes the output of the mode it started with: it starts again.
    if (m_formatTask.isPending() || m_formatTask.isRunning()) {
        startFormat(true);
        return;
    }
    if (m_editQuiet.isActive())
        return;
    Output& chosen = output(mode);
    if (chosen.inEditor) {
        // Back to the output still on show, before the other one arrived.
        m_shownMode = mode;
        scheduleSearch();
        return;
    }
    const qsizetype length = m_textFromEdit ? m_editedLength : storedLength();
    const bool large = chosen.made ? chosen.text.size() >= kLargeText : length >= kLargeText;
    if (!large || (chosen.made && chosen.buffer)) {
        if (!chosen.made) {
            (void)madeOutput(mode);
            announceOutput(mode);
        }
        m_shownMode = mode;
        emit shownOutputChanged();
        leaveOutputToEditor();
        scheduleSearch();
        return;
    }
    // Made, or split into lines, off the GUI thread; the output before stays on show meanwhile.
    const bool made = chosen.made;
    const QByteArray madeText = chosen.text;
    const std::function<InputRead()> makeText = made ? std::function<InputRead()>() : textMaker();
    const Indent indent = m_indent;
    const SortMode sortMode = m_sortMode;
    const bool valid = m_validation.isValid;
    m_outputTask.runNow<Output>(
        [=](const std::atomic_bool& cancelled) {
            Output out;
            out.made = true;
            out.text = madeText;
            if (!made && valid)
                out.text = makeText().printed(mode, indent, sortMode);
            completeOutput(out.text, out.metrics, out.buffer, cancelled);
            return out;
        },
        [this, mode, made](Output out) {
            output(mode) = std::move(out);
            if (!made)
                announceOutput(mode);
            m_shownMode = mode;
            emit shownOutputChanged();
            leaveOutputToEditor();
            scheduleSearch();
        });
}

void JSONToolViewModel::announceOutput(OutputMode mode)
{
    if (mode == OutputMode::formatted) {
        emit formattedOutputChanged();
        emit formattedMetricsChanged();
    } else {
        emit minifiedOutputChanged();
        emit minifiedMetricsChanged();
    }
}

const JSONToolViewModel::Output& JSONToolViewModel::madeOutput(OutputMode mode) const
{
    Output& out = output(mode);
    if (out.made)
        return out;
    out.made = true;
    if (m_validation.isValid)
        out.text = textMaker()().printed(mode, m_indent, m_sortMode);
    out.metrics = JSONTextMetrics(out.text);
    return out;
}

void JSONToolViewModel::setSearchQuery(const QString& query)
{
    const bool changed = TextUnits(query) != TextUnits(m_searchQuery);
    m_searchQuery = query;
    emit searchQueryChanged();
    if (changed)
        scheduleSearch();
}

void JSONToolViewModel::setSearchScope(JSONSearch::Scope scope)
{
    m_searchScope = scope;
    emit searchScopeChanged();
}

void JSONToolViewModel::setOpenError(const QString& message)
{
    if (message == m_openError)
        return;
    m_openError = message;
    emit openErrorChanged();
}

bool JSONToolViewModel::isFormatPending() const
{
    return m_editQuiet.isActive() || m_formatTask.isPending() || m_formatTask.isRunning();
}

bool JSONToolViewModel::isSearchPending() const
{
    return m_searchTask.isPending() || m_searchTask.isRunning();
}

QString JSONToolViewModel::shownOutput() const
{
    const Output& shown = output(m_shownMode);
    return shown.inEditor ? m_outputSource().text() : Utf8Decoder::decodeReplacing(shown.text, Utf8Decoder::ByteOrderMark::keep);
}

bool JSONToolViewModel::isShownOutputEmpty() const
{
    const Output& shown = output(m_shownMode);
    return shown.inEditor ? shown.length == 0 : shown.text.isEmpty();
}

std::optional<CodeTextBuffer> JSONToolViewModel::takeShownOutputBuffer()
{
    std::shared_ptr<CodeTextBuffer> buffer = std::exchange(output(m_shownMode).buffer, nullptr);
    if (!buffer)
        return std::nullopt;
    return std::optional<CodeTextBuffer>(std::move(*buffer));
}

std::optional<CodeTextBuffer> JSONToolViewModel::takeInputBuffer()
{
    if (!m_inputBuffer)
        return std::nullopt;
    std::optional<CodeTextBuffer> buffer(std::move(*m_inputBuffer));
    m_inputBuffer.reset();
    // Only for the text it was built from.
    if (m_textFromEdit || buffer->length() != storedLength())
        return std::nullopt;
    return buffer;
}

JSONTextMetrics JSONToolViewModel::shownMetrics() const
{
    return output(m_shownMode).metrics;
}

bool JSONToolViewModel::isInputBlank() const
{
    // Read in place: asked after every keystroke, and stops at the first visible character.
    const auto blank = [](QStringView part) {
        for (QChar c : part)
            if (!c.isSpace())
                return false;
        return true;
    };
    if (!m_utf8.isNull()) {
        for (qsizetype i = 0; i < m_utf8.size(); ++i)
            if (static_cast<unsigned char>(m_utf8[i]) >= 0x80 || !QChar::isSpace(uchar(m_utf8[i])))
                return static_cast<unsigned char>(m_utf8[i]) >= 0x80 && blank(Utf8Decoder::decodeReplacing(QByteArrayView(m_utf8).sliced(i), Utf8Decoder::ByteOrderMark::keep));
        return true;
    }
    if (!m_textFromEdit)
        return blank(m_text);
    bool isBlank = true;
    m_editSource().forEachPart([&](QStringView part) { return isBlank = blank(part); });
    return isBlank;
}

std::optional<PaneBadge> JSONToolViewModel::inputBadge() const
{
    if (isInputBlank())
        return std::nullopt;
    if (m_validation.isValid)
        return PaneBadge(QStringLiteral("VALID"), StatusColor::green());
    return PaneBadge(QStringLiteral("INVALID"), StatusColor::red());
}

JSONSearch::MatchList JSONToolViewModel::inputMatches() const
{
    if (m_searchQuery.isEmpty() || m_searchResult.inputGeneration != m_textGeneration)
        return {};
    return m_searchResult.inputMatches;
}

JSONSearch::MatchList JSONToolViewModel::outputMatches() const
{
    if (m_searchQuery.isEmpty() || m_searchResult.outputGeneration != m_outputGeneration)
        return {};
    return m_searchResult.outputMatches;
}

std::optional<QString> JSONToolViewModel::matchStatus(Pane pane) const
{
    if (m_searchQuery.isEmpty())
        return std::nullopt;
    // The published list, read without its generation test, so the counter does not flicker
    // while a new search is under way.
    const JSONSearch::MatchList& list =
        pane == Pane::input ? m_searchResult.inputMatches : m_searchResult.outputMatches;
    return JSONSearch::statusText(list, selection(pane));
}

std::optional<TextRange> JSONToolViewModel::currentMatch(Pane pane) const
{
    const TextRange selected = selection(pane);
    if (JSONSearch::index(selected, matches(pane)))
        return selected;
    return std::nullopt;
}

void JSONToolViewModel::scheduleFormat()
{
    startFormat(false);
}

void JSONToolViewModel::startFormat(bool now)
{
    m_requestedInputs = Inputs{m_textGeneration, m_indent, m_sortMode};
    m_formatTask.cancel();
    m_outputTask.cancel();
    scheduleSearch();

    const std::function<InputRead()> makeText = textMaker();
    const Indent indent = m_indent;
    const SortMode sortMode = m_sortMode;
    const OutputMode mode = m_outputMode;
    // Compared with what the run makes, so that an equal output is not shown again.
    const std::optional<OutputRead> old = outputRead(mode);
    auto work = [=](const std::atomic_bool& cancelled, const std::function<void(FormatStage)>& publish) {
        InputRead input = makeText();
        // The input's metrics show before the formatted text is ready.
        publish(FormatStage{input.isUTF8() ? JSONTextMetrics(input.utf8) : JSONTextMetrics(input.text)});
        FormatRun run;
        run.mode = mode;
        // A large output's lines are split here, side by side with its metrics, so that showing
        // it costs the GUI thread nothing.
        auto fill = [&](const QByteArray& made) {
            run.changed = !old || !old->equals(made);
            run.output.made = true;
            if (run.changed && !cancelled) {
                run.output.text = made;
                completeOutput(made, run.output.metrics, run.output.buffer, cancelled);
            }
        };
        // The output is completed once the parsed document and the input are let go: a large
        // one would otherwise be held three times over.
        QByteArray first;
        const JSONFormatter::FirstReady taken = [&](const JSONFormatter::Validation& validation, const QByteArray& made) {
            run.validation = validation;
            first = made;
            throw FirstOutputTaken();
        };
        try {
            const bool pretty = mode == OutputMode::formatted;
            JSONFormatter::Outputs out =
                input.isUTF8() ? JSONFormatter::outputs(input.utf8, indent, sortMode, &cancelled, pretty, taken)
                               : JSONFormatter::outputs(input.text, indent, sortMode, &cancelled, pretty, taken);
            // Nothing was handed over: not valid JSON (no outputs), or cancelled.
            run.validation = std::move(out.validation);
        } catch (const FirstOutputTaken&) {
        }
        input = InputRead();
        fill(first);
        return run;
    };
    auto partial = [this](FormatStage stage) {
        if (stage.inputMetrics && *stage.inputMetrics != m_inputMetrics) {
            m_inputMetrics = *stage.inputMetrics;
            emit inputMetricsChanged();
        }
    };
    auto apply = [this](FormatRun run) {
        applyFormatRun(std::move(run));
        emit formatFinished();
    };
    if (now)
        m_formatTask.runNow<FormatRun, FormatStage>(work, partial, apply);
    else
        m_formatTask.schedule<FormatRun, FormatStage>(work, partial, apply);
}

void JSONToolViewModel::applyFormatRun(FormatRun run)
{
    m_validation = std::move(run.validation);
    emit validationChanged();
    // The other output belonged to the inputs before: it is made again when asked for.
    output(run.mode == OutputMode::formatted ? OutputMode::minified : OutputMode::formatted) = Output();
    if (run.changed) {
        output(run.mode) = std::move(run.output);
        announceOutput(run.mode);
    }
    const bool shownChanged = run.changed || m_shownMode != run.mode;
    m_shownMode = run.mode;
    if (shownChanged) {
        resetOutputSelection();
        emit shownOutputChanged();
        leaveOutputToEditor();
    }
    scheduleSearch();
}

void JSONToolViewModel::scheduleSearch()
{
    m_searchTask.cancel();
    if (m_searchQuery.isEmpty()) {
        if (m_searchResult.query.isEmpty())
            return;
        // Cleared on the next turn, without the quiet time.
        m_searchTask.runNow<bool>([](const std::atomic_bool&) { return true; },
                                  [this](bool) {
                                      m_searchResult = SearchResult();
                                      emit searchResultChanged();
                                      emit currentMatchChanged();
                                  });
        return;
    }
    const QString query = m_searchQuery;
    const JSONSearch::Scope scope = m_searchScope;
    const std::function<InputRead()> makeText = textMaker();
    const std::optional<OutputRead> shown = outputRead(m_shownMode);
    const int textGeneration = m_textGeneration;
    const int outputGeneration = m_outputGeneration;
    m_searchTask.schedule<SearchResult>(
        [=](const std::atomic_bool& cancelled) {
            SearchResult result{query, scope, textGeneration, outputGeneration, {}, {}};
            result.inputMatches = JSONSearch::matches(query, makeText().whole(), scope, &cancelled);
            if (!cancelled)
                result.outputMatches = JSONSearch::matches(query, shown ? shown->whole() : QString(), scope, &cancelled);
            return result;
        },
        [this](SearchResult result) {
            m_searchResult = std::move(result);
            emit searchResultChanged();
            emit currentMatchChanged();
        });
}

void JSONToolViewModel::refreshIfStale()
{
    if (!m_requestedInputs || !(*m_requestedInputs == Inputs{m_textGeneration, m_indent, m_sortMode}))
        scheduleFormat();
}

void JSONToolViewModel::showFormattedOutput()
{
    QMetaObject::invokeMethod(this, [this] { setOutputMode(OutputMode::formatted); }, Qt::QueuedConnection);
}

SortMode JSONToolViewModel::nextSortMode(SortMode mode)
{
    switch (mode) {
    case SortMode::none:
        return SortMode::ascending;
    case SortMode::ascending:
        return SortMode::descending;
    case SortMode::descending:
        break;
    }
    return SortMode::none;
}

void JSONToolViewModel::cycleSortMode()
{
    QMetaObject::invokeMethod(this, [this] { setSortMode(nextSortMode(m_sortMode)); }, Qt::QueuedConnection);
}

JSONSearch::MatchList JSONToolViewModel::matchList(Pane pane) const
{
    if (m_searchQuery.isEmpty())
        return {};
    if (TextUnits(m_searchResult.query) == TextUnits(m_searchQuery) && m_searchResult.scope == m_searchScope)
        return matches(pane);
    // The run for this query has not finished: search now, so Find Next follows what was typed.
    return JSONSearch::matches(m_searchQuery, pane == Pane::input ? text() : shownOutput(), m_searchScope);
}

void JSONToolViewModel::revealMatch(bool forward)
{
    const Pane pane = m_activePane;
    const JSONSearch::MatchList list = matchList(pane);
    const std::optional<TextRange> target = JSONSearch::target(selection(pane), list, forward);
    if (!target) {
        emit beep();
        return;
    }
    m_revealSerial = bumped(m_revealSerial);
    const TextReveal reveal{*target, m_revealSerial};
    if (pane == Pane::input) {
        m_inputSelection = *target;
        m_inputReveal = reveal;
        emit inputRevealChanged();
    } else {
        m_outputSelection = *target;
        m_outputReveal = reveal;
        emit outputRevealChanged();
    }
    emit currentMatchChanged();
}

void JSONToolViewModel::selectionChanged(TextRange range, Pane pane)
{
    // Never inside the editor's own callback.
    QMetaObject::invokeMethod(
        this,
        [this, range, pane] {
            m_activePane = pane;
            TextRange& stored = pane == Pane::input ? m_inputSelection : m_outputSelection;
            if (stored == range)
                return;
            const JSONSearch::MatchList list = matches(pane);
            const bool touchesMatch = JSONSearch::index(stored, list) || JSONSearch::index(range, list);
            stored = range;
            if (touchesMatch)
                emit currentMatchChanged();
        },
        Qt::QueuedConnection);
}

static bool copyToClipboard(const QString& text)
{
    if (text.isEmpty())
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    auto* data = new QMimeData;
    data->setText(text);
    clipboard->setMimeData(data);
    return true;
}

bool JSONToolViewModel::copyInput()
{
    return copyToClipboard(text());
}

bool JSONToolViewModel::copyOutput()
{
    return copyToClipboard(shownOutput());
}

void JSONToolViewModel::open(const QUrl& fileUrl)
{
    setOpenError(QString());
    m_opener.openUTF8<OpenedText>(
        fileUrl,
        // Everything the GUI thread would otherwise do over the whole text happens here.
        [](QByteArray utf8, const std::atomic_bool& cancelled) {
            OpenedText opened;
            // A large file stays UTF-8: the editor reads its ASCII in place and the formatter
            // reads the same bytes. (The editors hold LF only: a file with CR goes the long way.)
            if (utf8.size() >= kLargeText && !utf8.contains('\r')) {
                if (cancelled)
                    return opened;
                opened.buffer = std::make_shared<CodeTextBuffer>(CodeTextBuffer::fromUtf8(utf8));
                opened.utf8Length = opened.buffer->length();
                opened.utf8 = std::move(utf8);
                return opened;
            }
            QString text = Utf8Decoder::decodeReplacing(utf8, Utf8Decoder::ByteOrderMark::keep);
            utf8 = QByteArray();
            opened.text = text.contains(u'\r') ? TextHelpers::normalizedLineBreaks(text) : std::move(text);
            if (opened.text.size() >= kLargeText && !cancelled)
                opened.buffer = std::make_shared<CodeTextBuffer>(opened.text);
            return opened;
        },
        [this, fileUrl](OpenedText opened) {
            m_fileUrl = fileUrl;
            emit fileUrlChanged();
            m_text = std::move(opened.text);
            m_utf8 = std::move(opened.utf8);
            m_utf8Length = opened.utf8Length;
            m_editSource = nullptr;
            m_textFromEdit = false;
                    m_editQuiet.stop();
            m_textGeneration = bumped(m_textGeneration);
            m_inputBuffer = std::move(opened.buffer);
            setOpenError(QString());
            m_inputSelection = TextRange{0, 0};
            emit textChanged();
            m_inputBuffer.reset();
            leaveTextToEditor();
            // Nobody is typing: no quiet time.
            startFormat(true);
        },
        [this](QString sentence) { setOpenError(sentence); });
}
