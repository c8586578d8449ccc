#pragma once

#include <QFont>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <array>

// Colours the Markdown source: heading markers and titles, quote and list markers, the markers
// of strong and emphasised text (the enclosed text keeps the plain style) and inline code.
// The document restyles only the paragraphs an edit touched.
class MarkdownSyntaxHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    enum class Colour { label, secondary, tertiary, accent, link };
    enum class Font { base, heading, mono };

    MarkdownSyntaxHighlighter(const QFont& baseFont, QTextDocument* document);

    // Dark or light colours; restyles the whole text when the choice changes.
    void setDark(bool dark);
    bool isDark() const { return m_dark; }

    // The colour a style draws in (for the current appearance).
    QColor colour(Colour colour) const;

    // Styles of one line of text, one entry per UTF-16 unit; public so the styling rules can be
    // checked without a text view.
    struct Style {
        Colour colour = Colour::label;
        Font font = Font::base;
        friend bool operator==(const Style&, const Style&) = default;
    };
    static QList<Style> styles(const QString& line);

protected:
    void highlightBlock(const QString& text) override;

private:
    void buildFormats();

    QFont m_baseFont;
    QFont m_headingFont;
    bool m_dark = false;
    // Indexed by colour * 3 + font.
    std::array<QTextCharFormat, 15> m_formats;
};
