#include "kit/PaneBadge.h"

bool operator==(const PaneBadge& a, const PaneBadge& b)
{
    if (!(a.m_tint == b.m_tint))
        return false;
    if (a.m_text == b.m_text)
        return true;
    return a.m_text.normalized(QString::NormalizationForm_D) == b.m_text.normalized(QString::NormalizationForm_D);
}
