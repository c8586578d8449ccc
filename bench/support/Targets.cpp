#include "support/Targets.h"

#include <cstdio>

namespace bench {

bool Targets::check(const QString& name, bool met, const QString& detail)
{
    const QString line = QStringLiteral("%1: %2: %3").arg(met ? QStringLiteral("met   ") : QStringLiteral("MISSED"), name, detail);
    std::printf("  target %s\n", qPrintable(line));
    std::fflush(stdout);
    m_lines << line;
    m_allMet = m_allMet && met;
    return met;
}

int Targets::finish()
{
    std::printf("\nTargets:\n");
    for (const QString& l : m_lines)
        std::printf("  %s\n", qPrintable(l));
    std::fflush(stdout);
    return m_allMet ? 0 : 1;
}

} // namespace bench
