#pragma once

#include <QMetaType>
#include <QString>

// One change of a text: `removedLength` units at `position` gave way to `inserted`. Applying the
// edits of a text view in order to a copy of its first text gives its current text.
struct TextEdit {
    qsizetype position = 0;
    qsizetype removedLength = 0;
    QString inserted;

    qsizetype insertedLength() const { return inserted.size(); }
    qsizetype changeInLength() const { return inserted.size() - removedLength; }
    // Applies the edit to `text`, which must hold what the edit was made on.
    void applyTo(QString& text) const { text.replace(position, removedLength, inserted); }
};

Q_DECLARE_METATYPE(TextEdit)
