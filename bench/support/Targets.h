#pragma once
// The targets a benchmark checks, each named as met or missed where it is measured and again
// in a closing list.
#include <QString>
#include <QStringList>

namespace bench {

class Targets {
public:
    // Prints "target: <name>: <detail>: met" (or MISSED) now and keeps it for the end.
    bool check(const QString& name, bool met, const QString& detail);
    // Prints the list; 0 when every target was met.
    int finish();

private:
    QStringList m_lines;
    bool m_allMet = true;
};

} // namespace bench
