#pragma once

#include <QByteArrayView>
#include <QStringView>

// Lines of a text, the one way every footer and line map counts them: LF, CR and CR LF each end
// one line, and a text that ends in a break has an empty last line after it.
class LineCounter {
public:
    LineCounter() = delete;

    enum class EmptyText {
        noLines, // what a footer shows for an empty text
        oneLine, // where a text is a list of lines, the empty one holds one empty line
    };

    // The line breaks in the text. A CR at the very end counts, whatever follows the view.
    static qsizetype breaks(QStringView text);
    static qsizetype breaks(QByteArrayView utf8);
    // 1 plus the line breaks; for the empty text, as `empty` says.
    static qsizetype lines(QStringView text, EmptyText empty = EmptyText::noLines);
};
