#pragma once

#include <QString>
#include <QWidget>

#include <optional>

// The acknowledgement notices shipped with the program, as plain text.
class AcknowledgementsView : public QWidget {
    Q_OBJECT
public:
    explicit AcknowledgementsView(QWidget* parent = nullptr);

    // The bundled notices, read once per process; none when missing or not valid UTF-8.
    static const std::optional<QString>& noticesText();
    // The notices in a file's bytes; none when the bytes are not valid UTF-8.
    static std::optional<QString> decodeNotices(const QByteArray& bytes);
};
