#include "tools/mermaid/MermaidToolViewModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

MermaidToolViewModel::MermaidToolViewModel(QObject* parent) : QObject(parent) {}

void MermaidToolViewModel::open(const QUrl& fileUrl)
{
    QPointer<MermaidToolViewModel> self(this);
    (void)QtConcurrent::run([self, fileUrl] {
        QFile file(fileUrl.toLocalFile());
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QString text = QString::fromUtf8(file.readAll());
        QMetaObject::invokeMethod(qApp, [self, fileUrl, text] {
            if (!self)
                return;
            self->m_fileUrl = fileUrl;
            self->m_text = text;
            emit self->textChanged();
        });
    });
}
