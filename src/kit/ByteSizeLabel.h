#pragma once

#include <QString>

// A byte count for a footer: "1023 B", "1 KB" (whole KiB, rounded down), "1.5 MB" (one decimal,
// always a point). A non-empty `suffix` follows after a blank ("12 KB html").
QString byteSizeLabel(qint64 bytes, const QString& suffix = QString());
