#pragma once

#include "kit/ui/ToolPane.h"
#include "tools/jwt/JWTDecoder.h"

#include <QTimer>

#include <functional>

class CodeEditor;
class Metric;
class MetricDivider;
class PaneButton;
class QGridLayout;
class QLabel;
class QStackedWidget;

// The lower pane of the result side: the payload by its kind (JSON with its time claims under
// it, plain text, or a notice for binary, detached and encrypted payloads), the time badge, and
// the claim count and size. Badge and time rows follow the clock once a second.
class JWTPayloadPane : public ToolPane {
    Q_OBJECT
public:
    explicit JWTPayloadPane(QWidget* parent = nullptr);

    void setDecoded(const JWTDecoder::Decoded& decoded);
    // The present moment in seconds since 1970 (tests set a fixed one).
    void setClock(std::function<double()> clock);
    // Applies the present moment to the badge and the time rows.
    void tick();

    CodeEditor* textEditor() const { return m_text; }
    QStackedWidget* stack() const { return m_stack; }
    QWidget* timeTable() const { return m_table; }
    PaneButton* copyButton() const { return m_copy; }
    Metric* claimsMetric() const { return m_claims; }
    Metric* sizeMetric() const { return m_size; }
    // The notice shown for a payload that has no text (null otherwise).
    QWidget* notice() const { return m_notice; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void rebuildTable();
    void copyPayload();

    JWTDecoder::Decoded m_decoded;
    std::function<double()> m_clock;
    QStackedWidget* m_stack;
    QWidget* m_jsonPage;
    CodeEditor* m_json;
    QWidget* m_tableDivider;
    QWidget* m_table;
    QGridLayout* m_grid;
    CodeEditor* m_text;
    QWidget* m_notice = nullptr;
    PaneButton* m_copy;
    Metric* m_claims;
    MetricDivider* m_claimsDivider;
    Metric* m_size;
    QTimer m_timer;
    int m_flashes = 0;
    // Per row: the relative-time label and the claim's date (rows without a date have none).
    struct Row {
        QLabel* relative = nullptr;
        double date = 0;
    };
    QList<Row> m_rows;
};
