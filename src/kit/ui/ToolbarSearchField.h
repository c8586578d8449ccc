#pragma once

#include <QLineEdit>

#include <functional>

// The toolbar's search field: reports every edit, runs its submit action on Return (always
// consuming it), and on Escape empties itself and gives up the focus. Its prompt is drawn in
// the palette's search-prompt grey at medium weight.
class ToolbarSearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit ToolbarSearchField(const QString& prompt, QWidget* parent = nullptr);

    QString prompt() const { return m_prompt; }
    void setPrompt(const QString& prompt);
    // Called with the new text on every edit by the user (not on setText()).
    void setOnTextChange(std::function<void(const QString&)> action) { m_onTextChange = std::move(action); }
    // Called on Return (or Enter); Shift may be read from the event's modifiers by the caller.
    void setOnSubmit(std::function<void()> action) { m_onSubmit = std::move(action); }

    // Empties the field (reporting the empty text when it held any) and moves the focus away.
    void clear();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void updateGlass();

    QAction* m_glass = nullptr;
    QString m_prompt;
    std::function<void(const QString&)> m_onTextChange;
    std::function<void()> m_onSubmit;
};
