#pragma once

// The baseline editor of this bench: the Markdown source pane as it was before it moved onto the
// kit's text view, a QPlainTextEdit restyled paragraph by paragraph by a QSyntaxHighlighter with
// the same patterns. Kept here only to be measured beside the tool.

#include "kit/DynamicColor.h"
#include "kit/Palette.h"
#include "tools/markdown/MarkdownSyntaxPatterns.h"
#include "tools/markdown/ui/MarkdownSyntaxHighlighter.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include <array>

class PlainTextBaselineHighlighter : public QSyntaxHighlighter {
public:
    PlainTextBaselineHighlighter(QTextDocument* document) : QSyntaxHighlighter(document)
    {
        const bool dark = DynamicColor::isDark(QGuiApplication::palette());
        const QColor colours[] = {QColor(), Palette::dim().resolved(dark), Palette::muted().resolved(dark),
                                  Palette::copper().resolved(dark), Palette::blue().resolved(dark)};
        for (int c = 0; c < 5; ++c) {
            for (int f = 0; f < 3; ++f) {
                QTextCharFormat format;
                if (c != 0)
                    format.setForeground(colours[c]);
                if (f == 1)
                    format.setFontWeight(QFont::Bold);
                m_formats[c * 3 + f] = format;
            }
        }
    }

protected:
    void highlightBlock(const QString& text) override
    {
        const QByteArray styles = MarkdownSyntaxHighlighter::packedStyles(text);
        const qsizetype length = styles.size();
        qsizetype runStart = 0;
        while (runStart < length) {
            const char style = styles[runStart];
            qsizetype runEnd = runStart + 1;
            while (runEnd < length && styles[runEnd] == style)
                ++runEnd;
            if (style != 0)
                setFormat(int(runStart), int(runEnd - runStart), m_formats[uchar(style)]);
            runStart = runEnd;
        }
    }

private:
    std::array<QTextCharFormat, 15> m_formats;
};

// The old editor's set-up: a wrapping QPlainTextEdit in the monospaced font with the highlighter.
class PlainTextBaselineEditor : public QPlainTextEdit {
public:
    PlainTextBaselineEditor()
    {
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(13);
        font.setWeight(QFont::Medium);
        setFont(font);
        document()->setDefaultFont(font);
        document()->setDocumentMargin(10);
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        highlighter = new PlainTextBaselineHighlighter(document());
    }
    PlainTextBaselineHighlighter* highlighter = nullptr;
};
