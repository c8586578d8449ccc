#include "tools/csv/CSVToolViewModel.h"

#include "formats/Utf8Encoder.h"
#include "kit/DynamicColor.h"
#include "kit/MemoryBudget.h"
#include "kit/StatusColor.h"
#include "kit/TextFileLoader.h"
#include "tools/csv/CSVRowExporters.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QTimer>

#include <numeric>

CSVToolViewModel::CSVToolViewModel(QObject* parent) : QObject(parent)
{
    m_rawText = Utf8Encoder::toUtf8(sampleText()); // well-formed: made from a QString
    m_documentOptions = currentOptions();
    m_document = CSVParser::parseCSV(m_rawText, std::nullopt, true);
    m_shownRows = allRowsOf(*m_document);
    m_shownRevision = m_revision;
    // A run that fails (memory runs out) leaves everything as it was and says so.
    m_parseTask.setFailureHandler(
        [this](QuietTask::Failure failure) { setParseError(QuietTask::failureSentence(failure)); });
    m_refineTask.setFailureHandler(
        [this](QuietTask::Failure failure) { setParseError(QuietTask::failureSentence(failure)); });
    m_copyTask.setFailureHandler([this](QuietTask::Failure failure) {
        m_copying = false;
        setParseError(failure == QuietTask::Failure::outOfMemory
                          ? QStringLiteral("The rows were not copied: there was not enough memory.")
                          : QStringLiteral("The rows were not copied because of an unexpected error."));
        emit copyStateChanged();
    });
}

CSVToolViewModel::~CSVToolViewModel() = default;

QString CSVToolViewModel::sampleText()
{
    return QStringLiteral("Name,Status,Score,Updated\n"
                          "Alice,active,92,2024-03-14\n"
                          "Bob,pending,78,2024-02-29\n"
                          "Cleo,inactive,85,2024-01-08\n"
                          "Dee,active,64,2023-12-19\n"
                          "Eun,pending,99,2024-04-02");
}

const QString& CSVToolViewModel::unreadableFileSentence()
{
    static const QString sentence = QStringLiteral("Could not read file.");
    return sentence;
}

const QString& CSVToolViewModel::noRowsSentence()
{
    static const QString sentence = QStringLiteral("No rows found.");
    return sentence;
}

QList<CSVToolViewModel::DelimiterChoice> CSVToolViewModel::allDelimiterChoices()
{
    return {DelimiterChoice::automatic, DelimiterChoice::comma, DelimiterChoice::semicolon, DelimiterChoice::tab,
            DelimiterChoice::pipe};
}

std::optional<char32_t> CSVToolViewModel::delimiterArgument(DelimiterChoice choice)
{
    switch (choice) {
    case DelimiterChoice::automatic:
        return std::nullopt;
    case DelimiterChoice::comma:
        return U',';
    case DelimiterChoice::semicolon:
        return U';';
    case DelimiterChoice::tab:
        return U'\t';
    case DelimiterChoice::pipe:
        return U'|';
    }
    return std::nullopt;
}

// --- setters: store, notify, and bring the shown rows up to date where they depend on it

void CSVToolViewModel::setSearchQuery(const QString& query)
{
    if (query == m_searchQuery)
        return;
    m_searchQuery = query;
    emit searchQueryChanged();
    refinementsChanged();
}

void CSVToolViewModel::setColumnFilters(const QMap<qint64, QString>& filters)
{
    if (filters == m_columnFilters)
        return;
    m_columnFilters = filters;
    emit columnFiltersChanged();
    refinementsChanged();
}

void CSVToolViewModel::setColumnFilter(qint64 columnID, const QString& text)
{
    QMap<qint64, QString> filters = m_columnFilters;
    if (text.isEmpty())
        filters.remove(columnID);
    else
        filters.insert(columnID, text);
    setColumnFilters(filters);
}

void CSVToolViewModel::setSortOrder(const QList<CSVSortDescriptor>& order)
{
    if (order == m_sortOrder)
        return;
    m_sortOrder = order;
    emit sortOrderChanged();
    refinementsChanged();
}

void CSVToolViewModel::setHiddenColumns(const QSet<qint64>& hidden)
{
    if (hidden == m_hiddenColumns)
        return;
    m_hiddenColumns = hidden;
    emit hiddenColumnsChanged();
}

void CSVToolViewModel::setDelimiterChoice(DelimiterChoice choice)
{
    if (choice == m_delimiterChoice)
        return;
    m_delimiterChoice = choice;
    emit delimiterChoiceChanged();
}

void CSVToolViewModel::setTreatFirstRowAsHeader(bool header)
{
    if (header == m_treatFirstRowAsHeader)
        return;
    m_treatFirstRowAsHeader = header;
    emit treatFirstRowAsHeaderChanged();
}

void CSVToolViewModel::setSelection(const QSet<qint64>& selection)
{
    if (selection == m_selection)
        return;
    m_selection = selection;
    emit selectionChanged();
}

void CSVToolViewModel::setParseError(const std::optional<QString>& error)
{
    if (error == m_parseError)
        return;
    m_parseError = error;
    emit parseErrorChanged();
}

// --- parse cycle

CSVToolViewModel::ParseOptions CSVToolViewModel::currentOptions() const
{
    return ParseOptions{delimiterArgument(m_delimiterChoice), m_treatFirstRowAsHeader};
}

void CSVToolViewModel::open(const QUrl& fileUrl)
{
    const ParseOptions options = currentOptions();
    // The file is read as bytes and parsed as UTF-8 without a UTF-16 copy: a large file would
    // need twice its size again.
    m_parseTask.runNow<Loaded>(
        [fileUrl, options](const std::atomic_bool& cancelled) {
            Loaded loaded;
            if ((loaded.refusal = MemoryBudget::refusalToOpen(fileUrl, memoryPerFileByte)))
                return loaded;
            const QString path = fileUrl.toLocalFile();
            if (!fileUrl.isLocalFile() || QFileInfo(path).isDir())
                return loaded;
            std::optional<QByteArray> bytes = TextFileLoader::readBytes(path);
            if (!bytes)
                return loaded;
            loaded.readable = true;
            loaded.text = CSVParser::repairedUtf8(std::move(*bytes));
            if (cancelled)
                return loaded;
            loaded.document = CSVParser::parseCSV(loaded.text, options.delimiter, options.header, &cancelled,
                                                  CSVParser::TextState::repaired);
            loaded.allRows = allRowsOf(loaded.document);
            return loaded;
        },
        [this, fileUrl, options](Loaded loaded) {
            if (!loaded.readable) {
                setParseError(loaded.refusal.value_or(unreadableFileSentence()));
                // A re-parse for a new delimiter or header choice that this open superseded
                // still has to happen, or the table would not match the controls.
                if (!(m_documentOptions == currentOptions()))
                    reparse();
                return;
            }
            setSearchQuery(QString());
            apply(loaded.document, loaded.allRows, fileUrl, loaded.text, options);
        });
}

void CSVToolViewModel::reparse()
{
    const ParseOptions options = currentOptions();
    const QByteArray text = m_rawText;
    m_parseTask.runNow<Loaded>(
        [text, options](const std::atomic_bool& cancelled) {
            Loaded parsed;
            parsed.document =
                CSVParser::parseCSV(text, options.delimiter, options.header, &cancelled, CSVParser::TextState::repaired);
            parsed.allRows = allRowsOf(parsed.document);
            return parsed;
        },
        [this, options](Loaded parsed) { apply(parsed.document, parsed.allRows, std::nullopt, std::nullopt, options); });
}

CSVToolViewModel::RowIDs CSVToolViewModel::allRowsOf(const CSVParser::Document& document)
{
    auto rows = std::make_shared<std::vector<qint32>>(size_t(document.rowCount()));
    std::iota(rows->begin(), rows->end(), 0);
    return rows;
}

void CSVToolViewModel::apply(const CSVParser::Document& document, const RowIDs& allRows, const std::optional<QUrl>& url,
                             const std::optional<QByteArray>& text, ParseOptions options)
{
    // Everything is stored first and announced after, so that no observer sees the new
    // document beside the old refinements or the old rows.
    const bool urlChanged = url && *url != m_fileUrl;
    if (urlChanged)
        m_fileUrl = *url;
    if (text)
        m_rawText = *text;
    m_document = document;
    m_documentOptions = options;
    const std::optional<QString> error =
        document.columnCount() == 0 ? std::optional<QString>(noRowsSentence()) : std::nullopt;
    const bool errorChanged = error != m_parseError;
    m_parseError = error;
    m_columnFilters.clear();
    m_sortOrder.clear();
    m_hiddenColumns.clear();
    m_selection.clear();
    // The table shows the new document's rows at once: all of them in file order, or, while a
    // search is typed in, none until the search's result arrives.
    ++m_revision;
    revisionChanged();
    if (m_searchQuery.isEmpty()) {
        m_shownRows = allRows;
        m_shownRevision = m_revision;
        m_refineTask.cancel();
    } else {
        m_shownRows = std::make_shared<const std::vector<qint32>>();
        scheduleRefine();
    }
    if (urlChanged)
        emit fileUrlChanged();
    emit documentChanged();
    if (errorChanged)
        emit parseErrorChanged();
    emit shownRowsChanged();
    emit columnFiltersChanged();
    emit sortOrderChanged();
    emit hiddenColumnsChanged();
    emit selectionChanged();
}

// --- rows

void CSVToolViewModel::refinementsChanged()
{
    ++m_revision;
    revisionChanged();
    scheduleRefine();
}

void CSVToolViewModel::revisionChanged()
{
    // The result a waiting copy wanted will never come: it works out its rows itself.
    if (m_pendingCopy && m_pendingCopy->revision != m_revision)
        startPendingCopy(nullptr);
}

void CSVToolViewModel::scheduleRefine()
{
    if (!m_document) {
        m_refineTask.cancel();
        m_shownRows = std::make_shared<const std::vector<qint32>>();
        m_shownRevision = m_revision;
        emit shownRowsChanged();
        return;
    }
    const CSVParser::Document document = *m_document;
    const QString query = m_searchQuery;
    const QMap<qint64, QString> filters = m_columnFilters;
    const QList<CSVSortDescriptor> order = m_sortOrder;
    const quint64 revision = m_revision;
    m_refineTask.schedule<std::optional<std::vector<qint32>>>(
        [document, query, filters, order](const std::atomic_bool& cancelled) {
            return CSVRefinement::visibleRows(document, query, filters, order, &cancelled);
        },
        [this, revision](std::optional<std::vector<qint32>> rows) {
            if (!rows || revision != m_revision)
                return;
            m_shownRows = std::make_shared<const std::vector<qint32>>(std::move(*rows));
            m_shownRevision = revision;
            m_visibleCache = m_shownRows;
            m_visibleCacheRevision = revision;
            emit shownRowsChanged();
            if (m_pendingCopy && m_pendingCopy->revision == revision)
                startPendingCopy(m_shownRows);
        });
}

CSVToolViewModel::RowIDs CSVToolViewModel::currentVisibleRows() const
{
    if (!m_document)
        return std::make_shared<const std::vector<qint32>>();
    if (m_shownRevision == m_revision)
        return m_shownRows;
    if (m_visibleCacheRevision == m_revision)
        return m_visibleCache;
    return nullptr;
}

const std::vector<qint32>& CSVToolViewModel::visibleRows() const
{
    if (m_shownRevision == m_revision)
        return *m_shownRows;
    if (m_visibleCacheRevision != m_revision) {
        m_visibleCache = std::make_shared<const std::vector<qint32>>(
            m_document ? CSVRefinement::visibleRows(*m_document, m_searchQuery, m_columnFilters, m_sortOrder)
                             .value_or(std::vector<qint32>())
                       : std::vector<qint32>());
        m_visibleCacheRevision = m_revision;
    }
    return *m_visibleCache;
}

QList<CSVParser::Column> CSVToolViewModel::visibleColumns() const
{
    QList<CSVParser::Column> columns;
    if (!m_document)
        return columns;
    // Shared, not copied: a wide file has a hundred thousand columns, and this is asked often.
    if (m_hiddenColumns.isEmpty())
        return m_document->columns();
    columns.reserve(m_document->columnCount() - m_hiddenColumns.size());
    for (const CSVParser::Column& column : m_document->columns()) {
        if (!m_hiddenColumns.contains(column.id))
            columns.append(column);
    }
    return columns;
}

// --- status

std::optional<qsizetype> CSVToolViewModel::rowCount() const
{
    return m_document ? std::optional<qsizetype>(m_document->rowCount()) : std::nullopt;
}

std::optional<qsizetype> CSVToolViewModel::columnCount() const
{
    return m_document ? std::optional<qsizetype>(m_document->columnCount()) : std::nullopt;
}

std::optional<PaneBadge> CSVToolViewModel::delimiterBadge() const
{
    if (m_parseError)
        return PaneBadge(QStringLiteral("ERROR"), StatusColor::red());
    if (!m_document)
        return std::nullopt;
    QString text;
    switch (m_document->delimiter()) {
    case U',': text = QStringLiteral("COMMA"); break;
    case U';': text = QStringLiteral("SEMICOLON"); break;
    case U'\t': text = QStringLiteral("TAB"); break;
    case U'|': text = QStringLiteral("PIPE"); break;
    default: {
        const char32_t d = m_document->delimiter();
        text = QString::fromUcs4(&d, 1);
    }
    }
    return PaneBadge(text, DynamicColor::secondary());
}

int CSVToolViewModel::activeFilterCount() const
{
    int count = 0;
    for (const QString& text : m_columnFilters) {
        if (!text.isEmpty())
            ++count;
    }
    return count;
}

bool CSVToolViewModel::hasRefinements() const
{
    return !m_searchQuery.isEmpty() || activeFilterCount() > 0 || !m_sortOrder.isEmpty();
}

// --- actions

void CSVToolViewModel::defer(std::function<void()> change)
{
    QTimer::singleShot(0, this, std::move(change));
}

void CSVToolViewModel::showAllColumns()
{
    defer([this] { setHiddenColumns({}); });
}

void CSVToolViewModel::hideAllColumns()
{
    QSet<qint64> all;
    if (m_document) {
        for (const CSVParser::Column& column : m_document->columns())
            all.insert(column.id);
    }
    defer([this, all] { setHiddenColumns(all); });
}

void CSVToolViewModel::setColumn(qint64 columnID, bool visible)
{
    defer([this, columnID, visible] {
        QSet<qint64> hidden = m_hiddenColumns;
        if (visible)
            hidden.remove(columnID);
        else
            hidden.insert(columnID);
        setHiddenColumns(hidden);
    });
}

void CSVToolViewModel::resetRefinements()
{
    defer([this] {
        setSearchQuery(QString());
        setColumnFilters({});
        setSortOrder({});
    });
}

namespace {
// The visible rows that are selected, in display order; all of them when none is.
std::vector<qint32> selectedAmong(const std::vector<qint32>& rows, const QSet<qint64>& selection,
                                  const std::atomic_bool& cancelled)
{
    std::vector<qint32> selected;
    if (!selection.isEmpty()) {
        selected.reserve(std::min(rows.size(), size_t(selection.size())));
        for (size_t i = 0; i < rows.size(); ++i) {
            if ((i & 0xFFFF) == 0 && cancelled.load(std::memory_order_relaxed))
                return {};
            if (selection.contains(rows[i]))
                selected.push_back(rows[i]);
        }
    }
    return selected.empty() ? rows : selected;
}

// The cells and bytes a copy of these rows writes, counting stopped once past the limits.
bool isSmallCopy(const CSVParser::Document& document, const std::vector<qint32>& rows,
                 const QList<CSVParser::Column>& columns)
{
    if (qsizetype(rows.size()) * std::max<qsizetype>(1, columns.size()) > CSVToolViewModel::immediateCopyCells)
        return false;
    qsizetype bytes = 0;
    for (const qint32 row : rows) {
        for (const CSVParser::Column& column : columns)
            bytes += document.cellUtf8(row, column.id).size();
        if (bytes > CSVToolViewModel::immediateCopyBytes)
            return false;
    }
    return true;
}
} // namespace

void CSVToolViewModel::putOnClipboard(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->clear();
    auto* data = new QMimeData;
    data->setText(text);
    clipboard->setMimeData(data);
}

void CSVToolViewModel::putUtf8OnClipboard(const QByteArray& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    clipboard->clear();
    // Kept as the bytes that were built: a string would take twice their size again, and the
    // platform asks for UTF-8 anyway.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), text);
    clipboard->setMimeData(data);
}

void CSVToolViewModel::copyRows(CSVCopyFormat format, const CSVParser::Document& document, qsizetype maxRows,
                                RowsOfCopy rows, const QList<CSVParser::Column>& columns, bool onlyWhenNotEmpty)
{
    const bool wasCopying = std::exchange(m_copying, false);
    m_pendingCopy.reset();
    m_copyTask.cancel();
    // Picking rows out of many costs as much as writing them: only a short list is picked here.
    if (maxRows * std::max<qsizetype>(1, columns.size()) <= immediateCopyCells) {
        const std::atomic_bool never{false};
        std::vector<qint32> ids = rows(never);
        if (isSmallCopy(document, ids, columns)) {
            const QString text = CSVParser::textFromUtf8(csvRowsAsUtf8(format, document, ids, columns));
            if (!onlyWhenNotEmpty || !text.isEmpty())
                putOnClipboard(text);
            if (wasCopying) {
                m_copyRowsDone = m_copyRowsTotal = qsizetype(ids.size());
                emit copyStateChanged();
            }
            return;
        }
        rows = [ids = std::move(ids)](const std::atomic_bool&) { return ids; };
    }
    m_copying = true;
    m_copyRowsDone = 0;
    m_copyRowsTotal = maxRows;
    struct Built {
        QByteArray text;
        bool complete = false;
    };
    // Progress comes as rows done; the total is known once the rows are picked.
    using Progress = std::pair<qsizetype, qsizetype>;
    m_copyTask.runNow<Built, Progress>(
        [document, rows = std::move(rows), columns, format](const std::atomic_bool& cancelled,
                                                            const std::function<void(Progress)>& publish) {
            Built built;
            const std::vector<qint32> ids = rows(cancelled);
            if (cancelled)
                return built;
            const qsizetype total = qsizetype(ids.size());
            publish({0, total});
            // A few updates a second: each is a trip through the GUI thread's queue.
            std::atomic<qint64> nextReport{0};
            QElapsedTimer clock;
            clock.start();
            built.text = csvRowsAsUtf8(format, document, ids, columns, &cancelled, [&](qsizetype done) {
                const qint64 now = clock.elapsed();
                qint64 due = nextReport.load(std::memory_order_relaxed);
                if (now >= due && nextReport.compare_exchange_strong(due, now + 50))
                    publish({done, total});
            });
            built.complete = !cancelled;
            return built;
        },
        [this](Progress progress) {
            m_copyRowsDone = progress.first;
            m_copyRowsTotal = progress.second;
            emit copyStateChanged();
        },
        [this, onlyWhenNotEmpty](Built built) {
            if (built.complete && (!onlyWhenNotEmpty || !built.text.isEmpty()))
                putUtf8OnClipboard(built.text);
            m_copying = false;
            m_copyRowsDone = m_copyRowsTotal;
            emit copyStateChanged();
        });
    emit copyStateChanged();
}

void CSVToolViewModel::cancelCopy()
{
    if (!m_copying)
        return;
    m_copying = false;
    m_pendingCopy.reset();
    m_copyTask.cancel();
    emit copyStateChanged();
}

void CSVToolViewModel::copySelection(bool asMarkdown)
{
    copyVisibleRows(asMarkdown ? CSVCopyFormat::markdown : CSVCopyFormat::json, true);
}

void CSVToolViewModel::copyVisible(bool asMarkdown)
{
    copyVisibleRows(asMarkdown ? CSVCopyFormat::markdown : CSVCopyFormat::json, false);
}

void CSVToolViewModel::copyVisibleRows(CSVCopyFormat format, bool selectedOnly)
{
    const CSVParser::Document document = m_document.value_or(CSVParser::Document());
    const QList<CSVParser::Column> columns = visibleColumns();
    const QSet<qint64> selection = selectedOnly ? m_selection : QSet<qint64>();
    RowIDs rows = currentVisibleRows();
    // A short table is searched and sorted here as quickly as its copy is written.
    if (!rows && document.rowCount() * std::max<qsizetype>(1, columns.size()) <= immediateCopyCells) {
        visibleRows();
        rows = currentVisibleRows();
    }
    if (rows) {
        copyRows(format, document, qsizetype(rows->size()),
                 [rows, selection](const std::atomic_bool& cancelled) { return selectedAmong(*rows, selection, cancelled); },
                 columns, false);
        return;
    }
    // Working the rows out here would freeze the window for seconds on a long table: the copy
    // waits for the running search, filter or sort instead.
    m_copyTask.cancel();
    m_pendingCopy = PendingCopy{format, m_revision, document, m_searchQuery, m_columnFilters, m_sortOrder, selection, columns};
    m_copying = true;
    m_copyRowsDone = 0;
    m_copyRowsTotal = document.rowCount();
    emit copyStateChanged();
}

void CSVToolViewModel::startPendingCopy(const RowIDs& rows)
{
    const PendingCopy copy = std::move(*m_pendingCopy);
    m_pendingCopy.reset();
    RowsOfCopy pick;
    if (rows) {
        pick = [rows, selection = copy.selection](const std::atomic_bool& cancelled) {
            return selectedAmong(*rows, selection, cancelled);
        };
    } else {
        pick = [copy](const std::atomic_bool& cancelled) {
            const std::optional<std::vector<qint32>> visible =
                CSVRefinement::visibleRows(copy.document, copy.query, copy.filters, copy.order, &cancelled);
            return visible ? selectedAmong(*visible, copy.selection, cancelled) : std::vector<qint32>();
        };
    }
    copyRows(copy.format, copy.document, rows ? qsizetype(rows->size()) : copy.document.rowCount(), std::move(pick),
             copy.columns, false);
}

bool CSVToolViewModel::copyShownRowsAsTSV(const QList<PositionRange>& ranges)
{
    if (!m_document)
        return false;
    const qsizetype shown = qsizetype(m_shownRows->size());
    QList<PositionRange> clipped;
    qsizetype count = 0;
    for (PositionRange range : ranges) {
        range.first = std::max<qsizetype>(range.first, 0);
        range.last = std::min(range.last, shown - 1);
        if (range.first > range.last)
            continue;
        clipped.append(range);
        count += range.last - range.first + 1;
    }
    if (ranges.isEmpty())
        count = shown;
    const QList<CSVParser::Column> columns = visibleColumns();
    if (count == 0 || columns.isEmpty())
        return false;
    // Ranges that overlap give their rows once, in shown order.
    std::sort(clipped.begin(), clipped.end(),
              [](const PositionRange& a, const PositionRange& b) { return a.first < b.first; });
    const bool all = ranges.isEmpty();
    copyRows(CSVCopyFormat::tsv, *m_document, count,
             [shownRows = m_shownRows, clipped, all](const std::atomic_bool&) {
                 if (all)
                     return *shownRows;
                 std::vector<qint32> ids;
                 qsizetype next = 0;
                 for (const PositionRange& range : clipped) {
                     for (qsizetype p = std::max(range.first, next); p <= range.last; ++p)
                         ids.push_back((*shownRows)[size_t(p)]);
                     next = std::max(next, range.last + 1);
                 }
                 return ids;
             },
             columns, true);
    return true;
}
