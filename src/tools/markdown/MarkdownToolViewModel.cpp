#include "tools/markdown/MarkdownToolViewModel.h"

#include "formats/CpuFeatures.h"
#include "formats/RunParts.h"
#include "kit/TextHelpers.h"

#include "kit/FindController.h"
#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownWelcome.h"
#include "tools/markdown/ScrollSyncController.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>

#include <algorithm>
#include <atomic>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Line breaks and words of units [from, to) of text, each word counted where it starts. One pass,
// the blank test and the break test sharing their loads: a large document is counted after
// every render.
struct Tally {
    qsizetype breaks = 0;
    qsizetype words = 0;
    qsizetype carriageReturns = 0;
};

inline bool isBlank(char16_t u) { return u == u' ' || u == u'\t' || u == u'\n' || u == u'\r'; }

// One unit at a time; i > 0 reads the unit before i, and the one after a CR is read when there is one.
void tallyUnits(const char16_t* s, qsizetype n, qsizetype i, qsizetype to, Tally& tally)
{
    for (; i < to; ++i) {
        const char16_t u = s[i];
        if (u == u'\n' || (u == u'\r' && (i + 1 == n || s[i + 1] != u'\n')))
            ++tally.breaks;
        if (u == u'\r')
            ++tally.carriageReturns;
        if (!isBlank(u) && (i == 0 || isBlank(s[i - 1])))
            ++tally.words;
    }
}

#if defined(QUORRIX_AVX2_LOOPS)
QUORRIX_AVX2 inline __m256i blank16(__m256i v)
{
    return _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(u' ')), _mm256_cmpeq_epi16(v, _mm256_set1_epi16(u'\t'))),
                           _mm256_or_si256(_mm256_cmpeq_epi16(v, _mm256_set1_epi16(u'\n')), _mm256_cmpeq_epi16(v, _mm256_set1_epi16(u'\r'))));
}

// Sixteen units a step from i > 0 while the unit after the sixteen exists; answers where it stopped.
QUORRIX_AVX2 qsizetype tallyAvx2(const char16_t* s, qsizetype i, qsizetype to, qsizetype n, Tally& tally)
{
    const __m256i lf = _mm256_set1_epi16(u'\n');
    const __m256i cr = _mm256_set1_epi16(u'\r');
    const __m256i ones = _mm256_set1_epi16(1);
    const qsizetype last = std::min(to, n - 1);
    while (last - i >= 16) {
        // Each lane counts down at most once a step: flushed before it could overflow.
        const qsizetype stop = i + std::min<qsizetype>((last - i) / 16, 0x7FFF) * 16;
        __m256i breaks = _mm256_setzero_si256();
        __m256i words = _mm256_setzero_si256();
        __m256i returns = _mm256_setzero_si256();
        for (; i < stop; i += 16) {
            const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
            const __m256i before = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i - 1));
            const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i + 1));
            const __m256i isCr = _mm256_cmpeq_epi16(v, cr);
            const __m256i lone = _mm256_andnot_si256(_mm256_cmpeq_epi16(after, lf), isCr);
            breaks = _mm256_sub_epi16(breaks, _mm256_or_si256(_mm256_cmpeq_epi16(v, lf), lone));
            returns = _mm256_sub_epi16(returns, isCr);
            words = _mm256_sub_epi16(words, _mm256_andnot_si256(blank16(v), blank16(before)));
        }
        alignas(32) qint32 b[8];
        alignas(32) qint32 w[8];
        alignas(32) qint32 r[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(b), _mm256_madd_epi16(breaks, ones));
        _mm256_store_si256(reinterpret_cast<__m256i*>(w), _mm256_madd_epi16(words, ones));
        _mm256_store_si256(reinterpret_cast<__m256i*>(r), _mm256_madd_epi16(returns, ones));
        for (int k = 0; k < 8; ++k) {
            tally.breaks += b[k];
            tally.words += w[k];
            tally.carriageReturns += r[k];
        }
    }
    return i;
}
#endif

#if defined(__SSE2__)
inline __m128i blank8(__m128i v)
{
    return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u' ')), _mm_cmpeq_epi16(v, _mm_set1_epi16(u'\t'))),
                        _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u'\n')), _mm_cmpeq_epi16(v, _mm_set1_epi16(u'\r'))));
}

qsizetype tallySse2(const char16_t* s, qsizetype i, qsizetype to, qsizetype n, Tally& tally)
{
    const __m128i lf = _mm_set1_epi16(u'\n');
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i ones = _mm_set1_epi16(1);
    const qsizetype last = std::min(to, n - 1);
    while (last - i >= 8) {
        const qsizetype stop = i + std::min<qsizetype>((last - i) / 8, 0x7FFF) * 8;
        __m128i breaks = _mm_setzero_si128();
        __m128i words = _mm_setzero_si128();
        __m128i returns = _mm_setzero_si128();
        for (; i < stop; i += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 1));
            const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 1));
            const __m128i isCr = _mm_cmpeq_epi16(v, cr);
            const __m128i lone = _mm_andnot_si128(_mm_cmpeq_epi16(after, lf), isCr);
            breaks = _mm_sub_epi16(breaks, _mm_or_si128(_mm_cmpeq_epi16(v, lf), lone));
            returns = _mm_sub_epi16(returns, isCr);
            words = _mm_sub_epi16(words, _mm_andnot_si128(blank8(v), blank8(before)));
        }
        alignas(16) qint32 b[4];
        alignas(16) qint32 w[4];
        alignas(16) qint32 r[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(b), _mm_madd_epi16(breaks, ones));
        _mm_store_si128(reinterpret_cast<__m128i*>(w), _mm_madd_epi16(words, ones));
        _mm_store_si128(reinterpret_cast<__m128i*>(r), _mm_madd_epi16(returns, ones));
        for (int k = 0; k < 4; ++k) {
            tally.breaks += b[k];
            tally.words += w[k];
            tally.carriageReturns += r[k];
        }
    }
    return i;
}
#endif

Tally tallyOf(const char16_t* s, qsizetype n, qsizetype from, qsizetype to)
{
    Tally tally;
    qsizetype i = from;
    // The first unit has no unit before it to load.
    if (i == 0 && to > 0) {
        tallyUnits(s, n, 0, 1, tally);
        i = 1;
    }
#if defined(QUORRIX_AVX2_LOOPS)
    if (CpuFeatures::hasAvx2())
        i = tallyAvx2(s, i, to, n, tally);
#endif
#if defined(__SSE2__)
    i = tallySse2(s, i, to, n, tally);
#endif
    tallyUnits(s, n, i, to, tally);
    return tally;
}

// The lines and words of a text, and whether it holds a CR (an open normalizes only then).
struct TextTally {
    MarkdownToolViewModel::Counts counts;
    bool carriageReturn = false;
};
TextTally tallyText(const QString& text);

// Counting a large text in stretches side by side pays from half a megabyte on: by then the
// render has the pool's threads at work.
constexpr qsizetype countStretch = qsizetype(512) << 10;

// The UTF-8 size of a large HTML, in stretches side by side; no cut splits a surrogate pair.
qsizetype utf8LengthOf(const QString& html)
{
    const qsizetype n = html.size();
    const qsizetype parts = WorkPool::parts(n, countStretch);
    if (parts <= 1)
        return TextHelpers::utf8Length(html);
    std::vector<qsizetype> cuts(static_cast<size_t>(parts) + 1, n);
    cuts[0] = 0;
    for (qsizetype k = 1; k < parts; ++k) {
        qsizetype at = n / parts * k;
        if (html[at].isLowSurrogate() && html[at - 1].isHighSurrogate())
            ++at;
        cuts[size_t(k)] = at;
    }
    std::vector<qsizetype> lengths(static_cast<size_t>(parts), 0);
    runParts(parts, [&](qsizetype k) {
        lengths[size_t(k)] = TextHelpers::utf8Length(QStringView(html).sliced(cuts[size_t(k)], cuts[size_t(k) + 1] - cuts[size_t(k)]));
    });
    qsizetype total = 0;
    for (const qsizetype length : lengths)
        total += length;
    return total;
}

} // namespace

MarkdownToolViewModel::MarkdownToolViewModel(QObject* parent)
    : QObject(parent), m_sync(new ScrollSyncController(this)), m_find(new FindController(this)),
      m_folderAccess(new MarkdownFolderAccess(this)), m_task(quietTimeMs, this)
{
    // The welcome document is rendered at once so the preview has content before any edit.
    const QString& welcome = MarkdownWelcome::document();
    m_markdownText = welcome;
    const Rendering rendering = render(welcome);
    m_renderedSource = welcome;
    m_renderedLineCount = rendering.renderedLineCount;
    m_lineCount = rendering.counts.lines;
    m_wordCount = rendering.counts.words;
    m_renderedHTML = rendering.html;
    m_renderedHTMLByteCount = rendering.htmlByteCount;
    m_rendering = rendering.made;
    m_opener.setMemoryPerFileByte(memoryPerFileByte);
    // A render that fails (memory runs out) keeps the last preview and says why it is stale.
    m_task.setFailureHandler([this](QuietTask::Failure failure) { setOpenError(QuietTask::failureSentence(failure)); });
}

MarkdownToolViewModel::~MarkdownToolViewModel() = default;

const QString& MarkdownToolViewModel::markdownText() const
{
    if (m_textFromEdit) {
        m_markdownText = TextHelpers::repairedUTF16(m_editedText.text());
        m_editedText = CodeTextSnapshot();
        m_textFromEdit = false;
    }
    return m_markdownText;
}

void MarkdownToolViewModel::editMarkdownText(const CodeTextSnapshot& snapshot)
{
    m_editedText = snapshot;
    m_textFromEdit = true;
    if (!m_opener.droppedForAnEdit())
        setOpenError(QString());
    // Typed text is never overwritten by a file still being read.
    m_opener.markEdited();
    m_task.cancel();
    m_task.schedule<Document>(
        [snapshot, before = m_rendering](const std::atomic_bool&) {
            // The whole text is made here, off the GUI thread, once typing pauses.
            Document document;
            document.text = TextHelpers::repairedUTF16(snapshot.text());
            document.rendering = render(document.text, before);
            return document;
        },
        [this](Document document) {
            // Only the latest edit's render lands, so its text is the editor's.
            m_markdownText = document.text;
            m_editedText = CodeTextSnapshot();
            m_textFromEdit = false;
            publish(document.text, document.rendering);
        });
}

void MarkdownToolViewModel::setMarkdownText(const QString& text)
{
    const QString& current = markdownText();
    const bool changed = text.size() != current.size() || text != current;
    m_markdownText = text;
    if (changed) {
        if (!m_opener.droppedForAnEdit())
            setOpenError(QString());
        // Typed text is never overwritten by a file still being read.
        m_opener.markEdited();
        emit markdownTextChanged();
    }
    scheduleRender();
}

void MarkdownToolViewModel::scheduleRender()
{
    m_task.cancel();
    // Length first: most edits differ in length, so the comparison ends at once.
    if (m_markdownText.size() == m_renderedSource.size() && m_markdownText == m_renderedSource)
        return;
    const QString text = m_markdownText;
    m_task.schedule<Rendering>([text, before = m_rendering](const std::atomic_bool&) { return render(text, before); },
                               [this, text](Rendering rendering) { publish(text, rendering); });
}

void MarkdownToolViewModel::publish(const QString& source, const Rendering& rendering)
{
    m_renderedSource = source;
    // The HTML goes last, so the preview sees the new line count together with it.
    if (m_renderedLineCount != rendering.renderedLineCount) {
        m_renderedLineCount = rendering.renderedLineCount;
        emit renderedLineCountChanged();
    }
    if (m_lineCount != rendering.counts.lines) {
        m_lineCount = rendering.counts.lines;
        emit lineCountChanged();
    }
    if (m_wordCount != rendering.counts.words) {
        m_wordCount = rendering.counts.words;
        emit wordCountChanged();
    }
    m_renderedHTML = rendering.html;
    m_renderedHTMLByteCount = rendering.htmlByteCount;
    m_rendering = rendering.made;
    emit renderedHTMLChanged();
}

void MarkdownToolViewModel::open(const QUrl& fileUrl)
{
    // A render of the old text must not land after the opened document.
    m_task.cancel();
    setOpenError(QString());
    m_opener.open<Document>(
        fileUrl,
        [](QString text, const std::atomic_bool&) { return openedDocument(text); },
        [this, fileUrl](Document document) {
            m_task.cancel();
            m_folderAccess->setDocumentFolder(fileUrl.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash));
            setOpenError(QString());
            if (m_fileUrl != fileUrl) {
                m_fileUrl = fileUrl;
                emit fileUrlChanged();
            }
            m_renderedSource = document.text;
            const bool textChanged = markdownText() != document.text;
            m_markdownText = document.text;
            if (textChanged)
                emit markdownTextChanged();
            publish(document.text, document.rendering);
            m_sync->reset();
            emit documentOpened();
        },
        [this](QString sentence) { setOpenError(sentence); });
}

bool MarkdownToolViewModel::isBusy() const
{
    return m_task.isPending() || m_task.isRunning() || m_opener.isOpening();
}

void MarkdownToolViewModel::setShowEditor(bool show)
{
    if (m_showEditor == show)
        return;
    m_showEditor = show;
    emit showEditorChanged();
}

void MarkdownToolViewModel::dismissOpenError()
{
    setOpenError(QString());
}

void MarkdownToolViewModel::setOpenError(const QString& sentence)
{
    if (m_openError == sentence)
        return;
    m_openError = sentence;
    emit openErrorChanged();
}

QUrl MarkdownToolViewModel::documentFolder() const
{
    if (m_fileUrl.isEmpty())
        return {};
    return m_fileUrl.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash);
}

namespace {

TextTally tallyText(const QString& text)
{
    const char16_t* const s = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    const qsizetype parts = WorkPool::parts(n, countStretch);
    std::vector<Tally> tallies(static_cast<size_t>(parts));
    runParts(parts, [&](qsizetype k) {
        tallies[size_t(k)] = tallyOf(s, n, n / parts * k, k + 1 == parts ? n : n / parts * (k + 1));
    });
    Tally all;
    for (const Tally& t : tallies) {
        all.breaks += t.breaks;
        all.words += t.words;
        all.carriageReturns += t.carriageReturns;
    }
    TextTally tally;
    tally.counts.lines = n == 0 ? 0 : int(all.breaks + 1);
    tally.counts.words = int(all.words);
    tally.carriageReturn = all.carriageReturns > 0;
    return tally;
}

// The rendering of the text `made` holds, whose counts are known.
MarkdownToolViewModel::Rendering renderingOf(MarkdownIncrementalRender made, MarkdownToolViewModel::Counts counts)
{
    MarkdownToolViewModel::Rendering rendering;
    rendering.made = std::move(made);
    rendering.html = rendering.made.html();
    rendering.htmlByteCount = rendering.made.htmlUtf8Length() >= 0 ? rendering.made.htmlUtf8Length() : utf8LengthOf(rendering.html);
    rendering.counts = counts;
    rendering.renderedLineCount = std::max(1, counts.lines);
    return rendering;
}

} // namespace

MarkdownToolViewModel::Counts MarkdownToolViewModel::countLinesAndWords(const QString& text)
{
    return tallyText(text).counts;
}

MarkdownToolViewModel::Rendering MarkdownToolViewModel::render(const QString& text, const MarkdownIncrementalRender& before)
{
    return renderingOf(before.next(text), countLinesAndWords(text));
}

MarkdownToolViewModel::Document MarkdownToolViewModel::openedDocument(const QString& decoded)
{
    // The editor keeps LF only. A text counts as it does with its breaks made LF, so one pass
    // tells the counts and whether there is a CR to make LF.
    const TextTally tally = tallyText(decoded);
    Document document;
    document.text = tally.carriageReturn ? TextHelpers::normalizedLineBreaks(QStringView(decoded)) : decoded;
    document.rendering = renderingOf(MarkdownIncrementalRender(document.text), tally.counts);
    return document;
}

const QStringList& MarkdownToolViewModel::markdownExtensions()
{
    static const QStringList extensions = {QStringLiteral("md"),  QStringLiteral("markdown"), QStringLiteral("mdown"),
                                           QStringLiteral("mkd"), QStringLiteral("mkdn"),     QStringLiteral("txt"),
                                           QStringLiteral("text")};
    return extensions;
}

const QList<QMimeType>& MarkdownToolViewModel::markdownContentTypes()
{
    static const QList<QMimeType> types = [] {
        QMimeDatabase db;
        QList<QMimeType> list;
        list.append(db.mimeTypeForName(QStringLiteral("text/plain")));
        const QMimeType byExtension = db.mimeTypeForFile(QStringLiteral("x.md"), QMimeDatabase::MatchExtension);
        if (byExtension.isValid() && !byExtension.isDefault() && !list.contains(byExtension))
            list.append(byExtension);
        const QMimeType markdown = db.mimeTypeForName(QStringLiteral("text/markdown"));
        if (markdown.isValid() && !list.contains(markdown))
            list.append(markdown);
        return list;
    }();
    return types;
}

std::optional<QUrl> MarkdownToolViewModel::markdownFile(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile() && !QFileInfo(url.toLocalFile()).isDir())
            files.append(url);
    }
    for (const QUrl& url : files) {
        if (markdownExtensions().contains(QFileInfo(url.path()).suffix().toLower()))
            return url;
    }
    QMimeDatabase db;
    for (const QUrl& url : files) {
        const QString name = QFileInfo(url.path()).fileName();
        if (QFileInfo(name).suffix().isEmpty())
            continue;
        const QMimeType type = db.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
        if (!type.isValid() || type.isDefault())
            continue;
        for (const QMimeType& accepted : markdownContentTypes()) {
            if (type == accepted || type.inherits(accepted.name()))
                return url;
        }
    }
    return std::nullopt;
}
