#pragma once

#include "kit/PaneBadge.h"
#include "kit/QuietTask.h"
#include "tools/csv/CSVParser.h"
#include "tools/csv/CSVRefinement.h"
#include "tools/csv/CSVRowExporters.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

// Everything the CSV tool knows: the parsed document, the file and text it came from, the parse
// options and the user's refinements (search, per-column filters, sort keys, hidden columns,
// selected rows). Lives on the GUI thread. Reading and parsing run off it; so do searching,
// filtering and sorting, whose result the table shows once it arrives (the previous rows stay
// until then). Every run carries a generation and only the latest is applied.
class CSVToolViewModel : public QObject {
    Q_OBJECT
public:
    using CSVSortDescriptor = ::CSVSortDescriptor;
    enum class DelimiterChoice { automatic, comma, semicolon, tab, pipe };
    static QList<DelimiterChoice> allDelimiterChoices();
    static std::optional<char32_t> delimiterArgument(DelimiterChoice choice);

    explicit CSVToolViewModel(QObject* parent = nullptr);
    ~CSVToolViewModel() override;

    // The built-in sample: a header and five rows, Score numeric.
    static QString sampleText();

    // --- published state
    const std::optional<CSVParser::Document>& document() const { return m_document; }
    const QUrl& fileUrl() const { return m_fileUrl; }
    const std::optional<QString>& parseError() const { return m_parseError; }
    // The text the document was parsed from, as UTF-8 (the input of reparse()).
    QString rawText() const { return CSVParser::textFromUtf8(m_rawText); }

    const QString& searchQuery() const { return m_searchQuery; }
    void setSearchQuery(const QString& query);
    const QMap<qint64, QString>& columnFilters() const { return m_columnFilters; }
    void setColumnFilters(const QMap<qint64, QString>& filters);
    // The popover's field: a non-empty text is stored as typed, an empty one removes the entry.
    void setColumnFilter(qint64 columnID, const QString& text);
    const QList<CSVSortDescriptor>& sortOrder() const { return m_sortOrder; }
    void setSortOrder(const QList<CSVSortDescriptor>& order);
    const QSet<qint64>& hiddenColumns() const { return m_hiddenColumns; }
    void setHiddenColumns(const QSet<qint64>& hidden);
    DelimiterChoice delimiterChoice() const { return m_delimiterChoice; }
    void setDelimiterChoice(DelimiterChoice choice);
    bool treatFirstRowAsHeader() const { return m_treatFirstRowAsHeader; }
    void setTreatFirstRowAsHeader(bool header);
    const QSet<qint64>& selection() const { return m_selection; }
    void setSelection(const QSet<qint64>& selection);

    // --- parse cycle
    void open(const QUrl& fileUrl);
    void reparse();
    bool isParsing() const { return m_parseTask.isRunning() || m_parseTask.isPending(); }

    // --- derived
    QList<CSVParser::Column> visibleColumns() const;
    // The rows to show for the current state, in display order (row ids). Computed here when
    // the background result is not current yet.
    const std::vector<qint32>& visibleRows() const;
    // What the table shows: the latest background result, which may lag the state by a run.
    // Shared, never copied: a file of millions of rows has megabytes of them.
    using RowIDs = std::shared_ptr<const std::vector<qint32>>;
    const std::vector<qint32>& shownRows() const { return *m_shownRows; }
    const RowIDs& sharedShownRows() const { return m_shownRows; }
    quint64 shownRevision() const { return m_shownRevision; }
    quint64 revision() const { return m_revision; }
    bool isRefining() const { return m_refineTask.isRunning() || m_refineTask.isPending(); }

    std::optional<qsizetype> rowCount() const;
    std::optional<qsizetype> columnCount() const;
    std::optional<PaneBadge> delimiterBadge() const;
    bool hasRefinements() const;
    int activeFilterCount() const;

    // --- actions; the four column and reset actions take effect on a later turn of the loop
    void showAllColumns();
    void hideAllColumns();
    void setColumn(qint64 columnID, bool visible);
    void resetRefinements();
    // A copy made within a frame is on the clipboard when the call returns; a larger one is
    // built off the GUI thread and lands when done (a newer copy supersedes it). Asked for while
    // the rows are still being searched, filtered or sorted, it waits for them: it copies the
    // rows of the state at the call, however that changes meanwhile.
    void copySelection(bool asMarkdown);
    void copyVisible(bool asMarkdown);
    // Tab-separated text of the shown rows at these positions, each range first to last (every
    // shown row when empty); nothing is copied when there is no row or no column. Returns
    // whether something is.
    struct PositionRange {
        qsizetype first = 0;
        qsizetype last = 0;
    };
    bool copyShownRowsAsTSV(const QList<PositionRange>& ranges);
    bool isCopying() const { return m_copying; }
    // Rows written so far of the running copy, and of how many.
    qsizetype copyRowsDone() const { return m_copyRowsDone; }
    qsizetype copyRowsTotal() const { return m_copyRowsTotal; }
    // Stops the running copy; the clipboard keeps what it held.
    void cancelCopy();
    // Copies of at most this many cells and bytes are made at once on the GUI thread.
    static constexpr qsizetype immediateCopyCells = 20000;
    static constexpr qsizetype immediateCopyBytes = 1 << 20;

    // The bytes of memory the tool holds per byte of an opened file, at the most (measured:
    // about 1.6 at the peak of an open; the rest leaves room to search and sort).
    static constexpr double memoryPerFileByte = 3;

    static const QString& unreadableFileSentence();
    static const QString& noRowsSentence();

signals:
    void documentChanged();
    void fileUrlChanged();
    void parseErrorChanged();
    void searchQueryChanged();
    void columnFiltersChanged();
    void sortOrderChanged();
    void hiddenColumnsChanged();
    void delimiterChoiceChanged();
    void treatFirstRowAsHeaderChanged();
    void selectionChanged();
    // The table's rows (shownRows()) were replaced.
    void shownRowsChanged();
    // A background copy started, advanced, ended or was cancelled.
    void copyStateChanged();

private:
    struct ParseOptions {
        std::optional<char32_t> delimiter;
        bool header = true;
        bool operator==(const ParseOptions&) const = default;
    };
    struct Loaded {
        bool readable = false;
        std::optional<QString> refusal; // the file would not fit in memory
        QByteArray text;
        CSVParser::Document document;
        RowIDs allRows; // every row in file order, made off the GUI thread
    };
    static RowIDs allRowsOf(const CSVParser::Document& document);
    ParseOptions currentOptions() const;
    void apply(const CSVParser::Document& document, const RowIDs& allRows, const std::optional<QUrl>& url,
               const std::optional<QByteArray>& text, ParseOptions options);
    void setParseError(const std::optional<QString>& error);
    void refinementsChanged();
    void scheduleRefine();
    void defer(std::function<void()> change);
    // The visible rows when they are known without working them out; null otherwise.
    RowIDs currentVisibleRows() const;
    using RowsOfCopy = std::function<std::vector<qint32>(const std::atomic_bool& cancelled)>;
    // Copies the visible rows (those selected among them, when any is) of the current state.
    void copyVisibleRows(CSVCopyFormat format, bool selectedOnly);
    // A copy of the visible rows waiting for them to be worked out, with the state it covers.
    struct PendingCopy {
        CSVCopyFormat format;
        quint64 revision = 0;
        CSVParser::Document document;
        QString query;
        QMap<qint64, QString> filters;
        QList<CSVSortDescriptor> order;
        QSet<qint64> selection;
        QList<CSVParser::Column> columns;
    };
    // Starts the waiting copy from `rows`, the result it waited for, or (null) from its own state.
    void startPendingCopy(const RowIDs& rows);
    void revisionChanged();
    // Copies the rows `rows` gives (at most `maxRows` of them) of `document` in `format`: at once
    // when small, else in the background. `onlyWhenNotEmpty`: no text, no change to the clipboard.
    void copyRows(CSVCopyFormat format, const CSVParser::Document& document, qsizetype maxRows, RowsOfCopy rows,
                  const QList<CSVParser::Column>& columns, bool onlyWhenNotEmpty);
    static void putOnClipboard(const QString& text);
    static void putUtf8OnClipboard(const QByteArray& text);

    std::optional<CSVParser::Document> m_document;
    ParseOptions m_documentOptions;
    QUrl m_fileUrl;
    std::optional<QString> m_parseError;
    QByteArray m_rawText;
    QString m_searchQuery;
    QMap<qint64, QString> m_columnFilters;
    QList<CSVSortDescriptor> m_sortOrder;
    QSet<qint64> m_hiddenColumns;
    DelimiterChoice m_delimiterChoice = DelimiterChoice::automatic;
    bool m_treatFirstRowAsHeader = true;
    QSet<qint64> m_selection;

    QuietTask m_parseTask{0, this};
    QuietTask m_refineTask{0, this};
    QuietTask m_copyTask{0, this};
    std::optional<PendingCopy> m_pendingCopy;
    bool m_copying = false;
    qsizetype m_copyRowsDone = 0;
    qsizetype m_copyRowsTotal = 0;
    quint64 m_revision = 1;
    RowIDs m_shownRows = std::make_shared<const std::vector<qint32>>();
    quint64 m_shownRevision = 0;
    mutable RowIDs m_visibleCache = m_shownRows;
    mutable quint64 m_visibleCacheRevision = 0;
};
