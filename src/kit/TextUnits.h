#pragma once

#include <QString>

// A text whose equality is exact, code unit for code unit, with no Unicode normalisation
// (length first, then content). Views keep the text they show as one, to skip redundant updates.
class TextUnits {
public:
    TextUnits() = default;
    explicit TextUnits(QString text) : m_text(std::move(text)) {}

    const QString& text() const { return m_text; }

    friend bool operator==(const TextUnits& a, const TextUnits& b)
    {
        if (a.m_text.size() != b.m_text.size())
            return false;
        // Shared storage needs no scan.
        if (a.m_text.constData() == b.m_text.constData())
            return true;
        return QStringView(a.m_text) == QStringView(b.m_text);
    }
    friend bool operator!=(const TextUnits& a, const TextUnits& b) { return !(a == b); }

private:
    QString m_text;
};
