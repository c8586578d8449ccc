#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// State of a find bar and the searches it runs. The controller does not search by itself: the
// view it searches installs `find`, which may answer asynchronously (a web page) or at once (a
// text view). GUI thread only.
class FindController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isShowingBar READ isShowingBar WRITE setShowingBar NOTIFY isShowingBarChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY queryChanged)
public:
    // Searches the view for `query` (forward or backwards, case-insensitive, wrapping) and calls
    // `answer` once, on the GUI thread, with whether anything matched. `isCurrent` tells whether
    // the search is still the newest one; a superseded search should not move anything.
    using FindHook = std::function<void(const QString& query, bool forward, std::function<bool()> isCurrent,
                                        std::function<void(bool matched)> answer)>;

    explicit FindController(QObject* parent = nullptr);

    bool isShowingBar() const { return m_isShowingBar; }
    void setShowingBar(bool showing);

    const QString& query() const { return m_query; }
    void setQuery(const QString& query);

    // None before any search and after the query was emptied or the bar closed.
    std::optional<bool> lastSearchMatched() const { return m_lastSearchMatched; }

    // Installed by the searched view.
    FindHook find;
    std::function<void()> clearHighlights;

    // One search for the current query; an empty query clears the status and the highlights.
    void search(bool forward);
    // The bar's Done: hides the bar, clears the status and the highlights. Keeps the query.
    void done();

    // Raised by every search and by done(); answers of older searches are dropped.
    quint64 generation() const { return m_generation; }

signals:
    void isShowingBarChanged(bool showing);
    void queryChanged(const QString& query);
    void lastSearchMatchedChanged();

private:
    void setLastSearchMatched(std::optional<bool> matched);

    bool m_isShowingBar = false;
    QString m_query;
    std::optional<bool> m_lastSearchMatched;
    quint64 m_generation = 0;
};
