#include "tools/mermaid/MermaidToolViewModel.h"

#include "kit/TextFileLoader.h"

MermaidToolViewModel::MermaidToolViewModel(QObject* parent) : QObject(parent) {}

void MermaidToolViewModel::open(const QUrl& fileUrl)
{
    TextFileLoader::loadTextFile(fileUrl).then(this, [this, fileUrl](const std::optional<QString>& text) {
        if (!text)
            return;
        m_fileUrl = fileUrl;
        m_text = *text;
        emit textChanged();
    });
}
