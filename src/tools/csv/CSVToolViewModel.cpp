#include "tools/csv/CSVToolViewModel.h"

#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "tools/csv/CSVRowExporters.h"

#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QPointer>
#include <QTimer>

CSVToolViewModel::CSVToolViewModel(QObject* parent) : QObject(parent)
{
    m_rawText = sampleText().toUtf8(); // well-formed: made from a QString
    m_documentOptions = currentOptions();
    m_document = CSVParser::parseCSV(m_rawText, std::nullopt, true);
    m_shownRows = visibleRows();
    m_shownRevision = m_revision;
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
            const QString path = fileUrl.toLocalFile();
            if (!fileUrl.isLocalFile() || QFileInfo(path).isDir())
                return loaded;
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return loaded;
            QByteArray bytes = file.readAll();
            if (file.error() != QFileDevice::NoError)
                return loaded;
            file.close();
            loaded.readable = true;
            loaded.text = CSVParser::repairedUtf8(std::move(bytes));
            if (cancelled)
                return loaded;
            loaded.document = CSVParser::parseCSV(loaded.text, options.delimiter, options.header, &cancelled,
                                                  CSVParser::TextState::repaired);
            return loaded;
        },
        [this, fileUrl, options](Loaded loaded) {
            if (!loaded.readable) {
                setParseError(unreadableFileSentence());
                // A re-parse for a new delimiter or header choice that this open superseded
                // still has to happen, or the table would not match the controls.
                if (!(m_documentOptions == currentOptions()))
                    reparse();
                return;
            }
            setSearchQuery(QString());
            apply(loaded.document, fileUrl, loaded.text, options);
        });
}

void CSVToolViewModel::reparse()
{
    const ParseOptions options = currentOptions();
    const QByteArray text = m_rawText;
    m_parseTask.runNow<CSVParser::Document>(
        [text, options](const std::atomic_bool& cancelled) {
            return CSVParser::parseCSV(text, options.delimiter, options.header, &cancelled, CSVParser::TextState::repaired);
        },
        [this, options](CSVParser::Document document) { apply(document, std::nullopt, std::nullopt, options); });
}

void CSVToolViewModel::apply(const CSVParser::Document& document, const std::optional<QUrl>& url,
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
    m_shownRows.clear();
    if (m_searchQuery.isEmpty()) {
        m_shownRows.resize(size_t(document.rowCount()));
        for (qint32 i = 0; i < qint32(m_shownRows.size()); ++i)
            m_shownRows[size_t(i)] = i;
        m_shownRevision = m_revision;
        m_refineTask.cancel();
    } else {
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
    scheduleRefine();
}

void CSVToolViewModel::scheduleRefine()
{
    if (!m_document) {
        m_refineTask.cancel();
        m_shownRows.clear();
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
            m_shownRows = std::move(*rows);
            m_shownRevision = revision;
            m_visibleCache = m_shownRows;
            m_visibleCacheRevision = revision;
            emit shownRowsChanged();
        });
}

const std::vector<qint32>& CSVToolViewModel::visibleRows() const
{
    if (m_shownRevision == m_revision)
        return m_shownRows;
    if (m_visibleCacheRevision != m_revision) {
        m_visibleCache = m_document ? CSVRefinement::visibleRows(*m_document, m_searchQuery, m_columnFilters, m_sortOrder)
                                          .value_or(std::vector<qint32>())
                                    : std::vector<qint32>();
        m_visibleCacheRevision = m_revision;
    }
    return m_visibleCache;
}

QList<CSVParser::Column> CSVToolViewModel::visibleColumns() const
{
    QList<CSVParser::Column> columns;
    if (!m_document)
        return columns;
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

std::vector<qint32> CSVToolViewModel::selectedVisibleRows() const
{
    const std::vector<qint32>& rows = visibleRows();
    std::vector<qint32> selected;
    if (!m_selection.isEmpty()) {
        for (qint32 id : rows) {
            if (m_selection.contains(id))
                selected.push_back(id);
        }
    }
    return selected.empty() ? rows : selected;
}

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

void CSVToolViewModel::copySelection(bool asMarkdown)
{
    const CSVParser::Document document = m_document.value_or(CSVParser::Document());
    const std::vector<qint32> rows = m_document ? selectedVisibleRows() : std::vector<qint32>();
    const QList<CSVParser::Column> columns = visibleColumns();
    putOnClipboard(asMarkdown ? csvRowsAsMarkdownTable(document, rows, columns) : csvRowsAsJSON(document, rows, columns));
}

void CSVToolViewModel::copyVisible(bool asMarkdown)
{
    const CSVParser::Document document = m_document.value_or(CSVParser::Document());
    const std::vector<qint32> rows = m_document ? visibleRows() : std::vector<qint32>();
    const QList<CSVParser::Column> columns = visibleColumns();
    putOnClipboard(asMarkdown ? csvRowsAsMarkdownTable(document, rows, columns) : csvRowsAsJSON(document, rows, columns));
}

bool CSVToolViewModel::copyShownRowsAsTSV(const QList<qsizetype>& positions)
{
    if (!m_document)
        return false;
    std::vector<qint32> rows;
    if (positions.isEmpty()) {
        rows = m_shownRows;
    } else {
        QList<qsizetype> sorted = positions;
        std::sort(sorted.begin(), sorted.end());
        for (qsizetype p : sorted) {
            if (p >= 0 && p < qsizetype(m_shownRows.size()))
                rows.push_back(m_shownRows[size_t(p)]);
        }
    }
    const QString text = csvRowsAsTSV(*m_document, rows, visibleColumns());
    if (text.isEmpty())
        return false;
    putOnClipboard(text);
    return true;
}
