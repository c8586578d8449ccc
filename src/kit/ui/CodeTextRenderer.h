#pragma once

#include "formats/TextRange.h"

#include <QColor>
#include <QMargins>
#include <QPalette>
#include <QRect>
#include <QString>

class CodeTextBuffer;
class CodeTextLayout;
class QPainter;

// Paints a code view from its layout: the shaped lines with the highlighters' colours as their
// formats, the selection and the find indicator as format ranges over them, selected line
// breaks, the caret, the drop position and the placeholder.
class CodeTextRenderer {
public:
    struct State {
        QMargins margins;
        qsizetype topLine = 0;
        qint64 topRowInLine = 0;
        qint64 horizontalColumns = 0; // scroll, when rows do not wrap
        TextRange selection;
        bool focused = false;
        TextRange indicator{-1, 0};
        QRect caret;     // empty: no caret
        QRect dropCaret; // empty: none
        QString placeholder;
        QPalette palette;
    };

    static void paint(QPainter& painter, const QRect& area, CodeTextLayout& layout, const CodeTextBuffer& buffer,
        const State& state);
};
