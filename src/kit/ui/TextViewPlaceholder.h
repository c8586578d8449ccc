#pragma once

#include <QWidget>

#include <optional>

class QPlainTextEdit;

// The grey prompt over an empty editor, in the editor's font and the palette's placeholder
// colour, wrapping within the text area. It lets every click through and hides while the
// document holds a character.
class TextViewPlaceholder : public QWidget {
    Q_OBJECT
public:
    // Shows `text` over the editor while it is empty; no text removes the prompt. Setting the
    // same text again changes nothing.
    static void setPlaceholder(QPlainTextEdit* editor, const std::optional<QString>& text);
    // The editor's prompt overlay, or nullptr.
    static TextViewPlaceholder* of(const QPlainTextEdit* editor);

    QString text() const { return m_text; }

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit TextViewPlaceholder(QPlainTextEdit* editor);
    void setText(const QString& text);
    void syncVisibility();

    QPlainTextEdit* m_editor;
    QString m_text;
};
