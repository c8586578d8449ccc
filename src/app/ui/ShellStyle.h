#pragma once

#include <QProxyStyle>

// The style the program would have anyway, but for the icon of the overflow button every menu
// bar and tool bar makes as it is built: that icon is read only once it is drawn. Reading it
// loads and asks every image-format plugin, and the button shows only when a bar overflows.
class ShellStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps a new instance of the style named `key` (the one QApplication chose).
    explicit ShellStyle(const QString& key);

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;

    // Makes the application's style a ShellStyle over the style it has, once.
    static void install();
};
