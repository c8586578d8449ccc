#pragma once

#include <QWidget>

#include <functional>

class ToolbarSearchField;
class ToolbarSearchFocus;

// The search entry a tool view puts into its toolbar: a ToolbarSearchField between 100 and 325
// px wide that gives up width before the other items. Bind it to a view model with setText()
// (model to field; ignored while equal, so typing does not loop) and textEdited() (field to
// model).
class ToolbarSearchItem : public QWidget {
    Q_OBJECT
public:
    explicit ToolbarSearchItem(const QString& prompt, QWidget* parent = nullptr);

    ToolbarSearchField* field() const { return m_field; }
    QString text() const;
    void setText(const QString& text);
    void setPrompt(const QString& prompt);
    void setOnSubmit(std::function<void()> action);
    // Points the handle at this item's field.
    void setFocusHandle(ToolbarSearchFocus* focus);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void textEdited(const QString& text);

private:
    ToolbarSearchField* m_field;
};
