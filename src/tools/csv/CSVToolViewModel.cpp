#include "tools/csv/CSVToolViewModel.h"

#include "kit/TextFileLoader.h"

CSVToolViewModel::CSVToolViewModel(QObject* parent) : QObject(parent) {}

void CSVToolViewModel::open(const QUrl& fileUrl)
{
    TextFileLoader::loadTextFile(fileUrl).then(this, [this, fileUrl](const std::optional<QString>& text) {
        if (!text)
            return;
        m_fileUrl = fileUrl;
        m_text = *text;
        emit textChanged();
    });
}
