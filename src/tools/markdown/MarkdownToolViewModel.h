#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

// Stand-in until the tool is built: keeps the text of the last opened file.
class MarkdownToolViewModel : public QObject {
    Q_OBJECT
public:
    explicit MarkdownToolViewModel(QObject* parent = nullptr);

    // Reads the file off the GUI thread; an unreadable file leaves the model as it was.
    void open(const QUrl& fileUrl);
    const QString& text() const { return m_text; }
    const QUrl& fileUrl() const { return m_fileUrl; }

signals:
    void textChanged();

private:
    QString m_text;
    QUrl m_fileUrl;
};
