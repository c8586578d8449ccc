#include "app/ui/AcknowledgementsView.h"

#include "app/ui/PlainTextView.h"
#include "kit/ui/ContentUnavailableView.h"

#include <QFile>
#include <QStringDecoder>
#include <QVBoxLayout>

static void initAppResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    (void)done;
}

std::optional<QString> AcknowledgementsView::decodeNotices(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

const std::optional<QString>& AcknowledgementsView::noticesText()
{
    static const std::optional<QString> text = []() -> std::optional<QString> {
        initAppResources();
        QFile file(QStringLiteral(":/THIRD-PARTY-NOTICES.md"));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return decodeNotices(file.readAll());
    }();
    return text;
}

AcknowledgementsView::AcknowledgementsView(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Acknowledgements"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (const auto& text = noticesText()) {
        layout->addWidget(new PlainTextView(*text));
    } else {
        layout->addWidget(new ContentUnavailableView(
            QStringLiteral("Acknowledgements are missing from this build"), QStringLiteral("doc.text.magnifyingglass"),
            QStringLiteral("THIRD-PARTY-NOTICES.md was not found inside the program.")));
    }
    resize(680, 560);
}
