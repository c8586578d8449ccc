#include "tools/csv/CSVToolViewModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

CSVToolViewModel::CSVToolViewModel(QObject* parent) : QObject(parent) {}

void CSVToolViewModel::open(const QUrl& fileUrl)
{
    QPointer<CSVToolViewModel> self(this);
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
