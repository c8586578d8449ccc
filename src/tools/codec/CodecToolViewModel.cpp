#include "tools/codec/CodecToolViewModel.h"

#include "formats/Encodings.h"
#include "formats/Utf8Decoder.h"
#include "formats/Utf8Encoder.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstring>

namespace {

// Shown texts from this length on are split into lines off the GUI thread.
constexpr qsizetype kPrepareFrom = 262144;

// Line breaks starting in [from, to) of the whole text: LF, CR, and CR LF once.
qsizetype breaksIn(QStringView text, qsizetype from, qsizetype to)
{
    qsizetype count = 0;
    for (qsizetype i = from; i < to; ++i) {
        const char16_t c = text.utf16()[i];
        if (c == u'\n' || (c == u'\r' && (i + 1 == text.size() || text.utf16()[i + 1] != u'\n')))
            ++count;
    }
    return count;
}

// Lines as the footer counts them (LF, CR and CR LF), of UTF-8 text.
qsizetype linesIn(QByteArrayView text)
{
    if (text.isEmpty())
        return 0;
    qsizetype lines = 1 + text.count('\n');
    for (qsizetype at = text.indexOf('\r'); at >= 0; at = text.indexOf('\r', at + 1)) {
        if (at + 1 == text.size() || text[at + 1] != '\n')
            ++lines;
    }
    return lines;
}

// The editor's text as the UTF-8 the transform reads, written once into one buffer: Latin-1
// parts byte for byte where they are ASCII, UTF-16 parts through the encoder.
QByteArray utf8Of(const CodeTextSnapshot& snapshot)
{
    qsizetype length = 0;
    for (const CodeTextSnapshot::Part& part : snapshot.parts()) {
        if (part.isNarrow) {
            const auto* p = reinterpret_cast<const unsigned char*>(part.narrow.constData());
            qsizetype high = 0;
            for (qsizetype i = 0; i < part.narrow.size(); ++i)
                high += p[i] >> 7;
            length += part.narrow.size() + high;
        } else {
            length += Utf8Encoder::encodedLength(part.wide);
        }
    }
    QByteArray out(length, Qt::Uninitialized);
    char* o = out.data();
    for (const CodeTextSnapshot::Part& part : snapshot.parts()) {
        if (!part.isNarrow) {
            o = Utf8Encoder::encode(part.wide, o);
            continue;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(part.narrow.constData());
        const auto* const end = p + part.narrow.size();
        while (p < end) {
            // ASCII runs a word at a time.
            const auto* run = p;
            for (quint64 word; end - run >= 8; run += 8) {
                memcpy(&word, run, 8);
                if (word & 0x8080808080808080ull)
                    break;
            }
            while (run < end && *run < 0x80)
                ++run;
            memcpy(o, p, size_t(run - p));
            o += run - p;
            p = run;
            if (p < end) {
                *o++ = char(0xC0 | *p >> 6);
                *o++ = char(0x80 | (*p & 0x3F));
                ++p;
            }
        }
    }
    return out;
}

// The text of a result as the Output pane shows it.
QString shownText(QByteArrayView utf8, const std::atomic_bool* cancelled = nullptr)
{
    return Utf8Decoder::decode(utf8, {Utf8Decoder::IllFormed::replace, Utf8Decoder::ByteOrderMark::keep, cancelled})
        .value_or(QString());
}

} // namespace

CodecToolViewModel::CodecToolViewModel(QObject* parent)
    : QObject(parent)
    , m_input(sampleInput())
{
    m_inputLineCount = TextHelpers::lineCount(m_input);
    m_inputByteSize = TextHelpers::utf8Length(m_input);
    m_editQuiet.setSingleShot(true);
    m_editQuiet.setTimerType(Qt::PreciseTimer);
    m_editQuiet.setInterval(150);
    connect(&m_editQuiet, &QTimer::timeout, this, [this] { startTransform(true); });
}

CodecToolViewModel::~CodecToolViewModel() = default;

QString CodecToolViewModel::sampleInput()
{
    return QStringLiteral("H4sIAAAAAAACA6tWKsnPz1GyUnLNS85PSVXQV3BJBTGUdJSKS1ILipWsopWSEotTzUyAIulVmQVAKqs4P08pthYA3E8JOTsAAAA=");
}

const QString& CodecToolViewModel::input() const
{
    if (m_inputFromEdit) {
        m_input = TextHelpers::repairedUTF16(m_editSource().text());
        m_editSource = nullptr;
        m_inputFromEdit = false;
    }
    return m_input;
}

void CodecToolViewModel::setInput(const QString& text)
{
    if (m_inputFromEdit) {
        // The editor's text is not joined just to be compared and dropped: it may be tens of
        // megabytes (a Clear after a paste).
        m_editSource = nullptr;
        m_inputFromEdit = false;
        m_input = text;
        emit inputChanged();
        ++m_inputGeneration;
        m_inputLineCount = TextHelpers::lineCount(m_input);
        m_inputByteSize = TextHelpers::utf8Length(m_input);
        emit inputMetricsChanged();
        scheduleTransform();
        return;
    }
    const QString previous = input();
    m_input = text;
    emit inputChanged();
    inputDidChange(previous);
}

void CodecToolViewModel::editInput(const TextEdit& edit, SnapshotSource snapshot)
{
    if (!m_inputFromEdit)
        m_editedLength = m_input.size();
    m_editedLength += edit.changeInLength();
    m_editSource = std::move(snapshot);
    m_inputFromEdit = true;
    m_input = QString();
    emit inputChanged();
    ++m_inputGeneration;
    // A short text is counted now; a long one by the transform, off the GUI thread.
    constexpr qsizetype kCountNow = 65536;
    if (m_editedLength < kCountNow) {
        const QString text = m_editSource().text();
        m_inputLineCount = TextHelpers::lineCount(text);
        m_inputByteSize = TextHelpers::utf8Length(text);
        emit inputMetricsChanged();
    }
    // The transform starts when the quiet time ends.
    m_requestedInputs = Inputs{m_inputGeneration, m_scheme, m_direction, m_options};
    m_transformTask.cancel();
    m_editQuiet.start();
}

void CodecToolViewModel::setScheme(Codec::Scheme scheme)
{
    if (scheme == m_scheme)
        return;
    m_scheme = scheme;
    emit schemeChanged();
}

void CodecToolViewModel::setDirection(Codec::Direction direction)
{
    if (direction == m_direction)
        return;
    m_direction = direction;
    emit directionChanged();
}

void CodecToolViewModel::setOptions(const Codec::Options& options)
{
    if (options == m_options)
        return;
    m_options = options;
    emit optionsChanged();
}

void CodecToolViewModel::inputDidChange(const QString& previous)
{
    ++m_inputGeneration;
    updateInputMetrics(previous);
    emit inputMetricsChanged();
    if (previous.size() == m_input.size() && previous == m_input)
        return;
    scheduleTransform();
}

void CodecToolViewModel::updateInputMetrics(const QString& previous)
{
    // A keystroke in a long text changes a few units: count only around them, so typing in
    // megabytes of input stays quick. The text outside the changed span is the same in both.
    constexpr qsizetype kWhole = 65536;
    if (previous.size() < kWhole || m_input.size() < kWhole) {
        m_inputLineCount = TextHelpers::lineCount(m_input);
        m_inputByteSize = TextHelpers::utf8Length(m_input);
        return;
    }
    const auto [before, after] = TextHelpers::changedRanges(previous, m_input);
    // One unit more on each side: a CR before the change, or a surrogate pair across its edges,
    // is judged by a unit inside it.
    const qsizetype from = std::max<qsizetype>(0, before.location - 2);
    const qsizetype oldTo = std::min(previous.size(), before.end() + 2);
    const qsizetype newTo = std::min(m_input.size(), after.end() + 2);
    m_inputLineCount += breaksIn(m_input, from, newTo) - breaksIn(previous, from, oldTo);
    m_inputByteSize += TextHelpers::utf8Length(QStringView(m_input).sliced(from, newTo - from))
        - TextHelpers::utf8Length(QStringView(previous).sliced(from, oldTo - from));
}

void CodecToolViewModel::startTransform(bool now)
{
    m_editQuiet.stop();
    m_requestedInputs = Inputs{m_inputGeneration, m_scheme, m_direction, m_options};
    const bool fromEdit = m_inputFromEdit;
    const auto snapshot = std::make_shared<CodeTextSnapshot>(fromEdit ? m_editSource() : CodeTextSnapshot());
    const QString stored = fromEdit ? QString() : m_input;
    const quint64 generation = m_inputGeneration;
    const Codec::Scheme scheme = m_scheme;
    const Codec::Direction direction = m_direction;
    const Codec::Options options = m_options;
    const std::shared_ptr<std::atomic_int> rowWidth = m_rowWidth;
    auto work =
        [fromEdit, snapshot, stored, generation, scheme, direction, options, rowWidth](const std::atomic_bool& cancelled) {
            Run run;
            QByteArray input;
            if (fromEdit) {
                // The text as UTF-8 in one buffer of its own, and the snapshot let go at once:
                // while it shares a block of the editor, its next keystroke copies that block.
                input = utf8Of(*snapshot);
                *snapshot = CodeTextSnapshot();
                run.builtGeneration = generation;
                run.inputLineCount = linesIn(input);
                run.inputByteSize = input.size();
            } else {
                input = Codec::utf8Of(stored);
            }
            run.rowWidth = rowWidth->load();
            run.scheme = scheme;
            run.result = Codec::transform(std::move(input), scheme, direction, options, &cancelled);
            if (run.result.ok() && !cancelled.load()) {
                const Codec::Output& output = *run.result.output;
                if (output.dump) {
                    const QString rows = shownText(output.text);
                    run.lineCount = TextHelpers::lineCount(rows);
                    run.shown = run.rowWidth != 16 ? Codec::hexDumpText(run.rowWidth, *output.dump) : rows;
                } else {
                    run.shown = shownText(output.text, &cancelled);
                    run.lineCount = TextHelpers::lineCount(run.shown);
                }
                if (run.shown.size() >= kPrepareFrom && !cancelled.load())
                    run.buffer.emplace(run.shown);
            }
            return run;
        };
    auto apply = [this](Run run) { publish(std::move(run)); };
    if (now)
        m_transformTask.runNow<Run>(work, apply);
    else
        m_transformTask.schedule<Run>(work, apply);
}

void CodecToolViewModel::transformIfStale()
{
    const Inputs current{m_inputGeneration, m_scheme, m_direction, m_options};
    if (m_requestedInputs && *m_requestedInputs == current)
        return;
    scheduleTransform();
}

void CodecToolViewModel::publish(Run run)
{
    // The counts made off the GUI thread stand for the edits they were made from.
    if (run.builtGeneration && m_inputFromEdit && *run.builtGeneration == m_inputGeneration) {
        if (run.inputLineCount != m_inputLineCount || run.inputByteSize != m_inputByteSize) {
            m_inputLineCount = run.inputLineCount;
            m_inputByteSize = run.inputByteSize;
            emit inputMetricsChanged();
        }
    }
    m_outputLineCount = run.lineCount;
    emit outputLineCountChanged();
    m_dumpTask.cancel();
    ++m_outputGeneration;
    emit outputGenerationChanged();
    m_resultScheme = run.scheme;
    if (run.result.ok()) {
        m_output = std::move(run.result.output);
        emit outputChanged();
        m_failure.reset();
        emit failureChanged();
    } else {
        m_output.reset();
        emit outputChanged();
        m_failure = run.result.failure;
        emit failureChanged();
    }
    if (m_output && m_output->dump && m_dumpBytesPerRow != run.rowWidth) {
        // The pane changed width while the run worked: the dump task brings the right width.
        m_shownBytesPerRow.reset();
        refreshDump();
        emit transformPublished();
        return;
    }
    m_shownBytesPerRow = m_output && m_output->dump ? std::optional(run.rowWidth) : std::nullopt;
    m_shownOutput = std::move(run.shown);
    m_shownBuffer = std::move(run.buffer);
    emit shownOutputChanged();
    m_shownBuffer.reset();
    emit transformPublished();
}

std::optional<CodeTextBuffer> CodecToolViewModel::takeShownOutputBuffer()
{
    std::optional<CodeTextBuffer> buffer = std::move(m_shownBuffer);
    m_shownBuffer.reset();
    return buffer;
}

void CodecToolViewModel::refreshDump()
{
    m_dumpTask.cancel();
    if (!m_output || !m_output->dump)
        return;
    if (m_shownBytesPerRow && *m_shownBytesPerRow == m_dumpBytesPerRow)
        return;
    const Codec::Output output = *m_output;
    const int width = m_dumpBytesPerRow;
    m_dumpTask.runNow<QString>(
        [output, width](const std::atomic_bool&) {
            return width == 16 ? shownText(output.text) : Codec::hexDumpText(width, *output.dump);
        },
        [this, width](QString text) {
            m_shownBytesPerRow = width;
            m_shownOutput = std::move(text);
            m_shownBuffer.reset();
            emit shownOutputChanged();
        });
}

void CodecToolViewModel::setDumpBytesPerRow(int width)
{
    m_dumpBytesPerRow = width;
    m_rowWidth->store(width);
}

bool CodecToolViewModel::fitDump(int columns)
{
    const int wanted = Codec::bytesPerRow(columns);
    if (wanted != m_dumpBytesPerRow) {
        setDumpBytesPerRow(wanted);
        refreshDump();
    }
    return m_shownBytesPerRow && *m_shownBytesPerRow != m_dumpBytesPerRow;
}

std::optional<PaneBadge> CodecToolViewModel::inputBadge() const
{
    if (m_direction != Codec::Direction::decode)
        return std::nullopt;
    // Read in place: asked after every keystroke, and stops at the first visible character.
    const auto blank = [](QStringView part) {
        for (QChar c : part)
            if (!Encodings::isWhiteSpace(c.unicode()))
                return false;
        return true;
    };
    bool isBlank = true;
    if (m_inputFromEdit)
        m_editSource().forEachPart([&](QStringView part) { return isBlank = blank(part); });
    else
        isBlank = blank(m_input);
    if (isBlank)
        return std::nullopt;
    if (m_failure && m_failure->isInputFault())
        return PaneBadge(QStringLiteral("INVALID"), StatusColor::red());
    if (m_output || m_failure)
        return PaneBadge(QStringLiteral("VALID"), StatusColor::green());
    return std::nullopt;
}

std::optional<PaneBadge> CodecToolViewModel::outputBadge() const
{
    if (!m_output || m_output->isEmpty())
        return std::nullopt;
    QString text;
    if (m_direction == Codec::Direction::encode) {
        text = Codec::title(m_scheme).toUpper();
    } else {
        text = m_output->content == Codec::Content::text ? QStringLiteral("TEXT")
            : m_output->content == Codec::Content::json  ? QStringLiteral("JSON")
                                                         : QStringLiteral("BINARY");
        if (m_output->compression)
            text = Inflate::formatName(*m_output->compression).toUpper() + QStringLiteral(" \u2192 ") + text;
    }
    return PaneBadge(text, DynamicColor::secondary());
}

bool CodecToolViewModel::canSwap() const
{
    return m_output && m_output->content != Codec::Content::binary && !m_output->isEmpty();
}

void CodecToolViewModel::swap()
{
    if (!canSwap())
        return;
    setInput(outputText());
    setDirection(m_direction == Codec::Direction::encode ? Codec::Direction::decode : Codec::Direction::encode);
}

void CodecToolViewModel::copyOutput()
{
    if (m_output && !m_output->isEmpty())
        copyToPasteboard(outputText());
}

QString CodecToolViewModel::outputText() const
{
    if (!m_output)
        return {};
    // A text result is shown as it is; a dump may be shown at another width than its text's.
    return m_output->dump ? shownText(m_output->text) : m_shownOutput;
}

void CodecToolViewModel::copyToPasteboard(const QString& text)
{
    if (text.isEmpty())
        return;
    auto* data = new QMimeData;
    data->setText(text);
    QGuiApplication::clipboard()->setMimeData(data);
}
