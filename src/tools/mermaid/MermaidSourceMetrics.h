#pragma once

#include <QString>
#include <QStringView>

class CodeTextSnapshot;

// The Source pane's footer facts of a Mermaid source: its line count and the first word of its
// first significant line (the diagram type as written, not checked against any list).
struct MermaidSourceMetrics {
    // 0 for the empty source, else 1 plus the line breaks (LF, CR and CR LF each count once).
    qsizetype lines = 0;
    // "—" when no line is significant (all blank or starting with "%%").
    QString diagramType = QStringLiteral("—");

    MermaidSourceMetrics() = default;
    explicit MermaidSourceMetrics(QStringView source);
    // The same of an editor's text (LF breaks only), reading only as far as its first
    // significant line.
    explicit MermaidSourceMetrics(const CodeTextSnapshot& source);

    friend bool operator==(const MermaidSourceMetrics&, const MermaidSourceMetrics&) = default;
};
