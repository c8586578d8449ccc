#pragma once

#include <QObject>

#include <functional>
#include <optional>

// Keeps the source editor and the preview showing the same place of the document. Each pane
// reports its own scrolling; the controller turns a report into a Level (a fractional source
// line and the window height at which it should be seen) and hands it to the other pane.
class ScrollSyncController : public QObject {
    Q_OBJECT
public:
    // A reading position: `line` is a 0-based source line plus the fraction of its laid-out
    // height above the reading point (the line count means the end of the document);
    // `windowY` is measured down from the top of the window's content.
    struct Level {
        double line = 0;
        double windowY = 0;
        friend bool operator==(const Level&, const Level&) = default;
    };
    enum class Pane { editor, preview };
    enum class Mode { scrolling, caret, previewFind };

    using LineAt = std::function<double(double windowY)>;

    explicit ScrollSyncController(QObject* parent = nullptr);

    // Installed by the panes; an action whose pane is gone must do nothing.
    std::function<void(const Level&, bool glide)> applyToPreview;
    std::function<void(const Level&)> applyToEditor;
    std::function<void()> editorToStart;
    std::function<void()> previewToTop;

    std::optional<Level> current;
    Pane leader = Pane::editor;
    Mode mode = Mode::scrolling;
    std::optional<double> handoverStart;
    double scrolled = 0;

    // After a newly opened file: forget the level, then send both panes to their tops.
    void reset();
    // The preview's web view went away: forget the level, call nothing.
    void clear();
    // One scroll of the leading pane by `delta` points whose natural reading height is `target`.
    void step(Pane from, double delta, double target, const LineAt& lineAt);
    void followCaret(const Level& level, bool glide);
    void followFind(const Level& level);
    void alignEditor();
    void reapplyToEditor();
    void reapplyToPreview();

    // Where a pane's reading point sits: at its top edge until the last stretch of its scroll
    // range, then sliding down to the bottom edge, reached when it is scrolled to the end.
    static double naturalReadingHeight(double paneTop, double viewport, double content, double scrollY);

    // The distance over which the reading height glides from the old leader's to the new one's.
    static constexpr double handoverDistance = 200;

private:
    void forget();
};
