#pragma once

#include "kit/ui/FindableTextView.h"

// Read-only monospaced text that can be selected, copied and searched with the kit's find bar.
class PlainTextView : public FindableTextView {
    Q_OBJECT
public:
    explicit PlainTextView(const QString& text, QWidget* parent = nullptr);
};
