#include "tools/markdown/ui/MarkdownSchemeHandler.h"

#include "kit/DynamicColor.h"

#include "kit/QuietTask.h"

#include "tools/markdown/MarkdownFolderAccess.h"
#include "tools/markdown/MarkdownLocalImages.h"
#include "tools/markdown/ui/MarkdownPageDocument.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QCoreApplication>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>

void MarkdownSchemeHandler::registerScheme()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    QWebEngineUrlScheme scheme(MarkdownLocalImages::scheme.toLatin1());
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    // Not secure, so the page may still show http: images; not CORS-enabled, so no page may fetch it.
    scheme.setFlags({});
    QWebEngineUrlScheme::registerScheme(scheme);
}

MarkdownSchemeHandler::MarkdownSchemeHandler(MarkdownFolderAccess* folderAccess, QObject* parent)
    : QWebEngineUrlSchemeHandler(parent), m_folderAccess(folderAccess)
{
}

void MarkdownSchemeHandler::requestStarted(QWebEngineUrlRequestJob* job)
{
    const QUrl request = job->requestUrl();
    if (pageAddress && request == pageAddress() && job->requestMethod() == "GET") {
        auto* body = new QBuffer(job);
        const bool dark = DynamicColor::isDark(QGuiApplication::palette());
        body->setData(MarkdownPageDocument::markdownPreviewPage(dark).toUtf8());
        job->reply("text/html", body);
        return;
    }
    const QUrl file = MarkdownLocalImages::fileURL(request);
    if (file.isEmpty() || !m_folderAccess) {
        job->fail(QWebEngineUrlRequestJob::UrlInvalid);
        emit imageRequestFinished(request, false);
        return;
    }
    const QList<QUrl> granted = m_folderAccess->granted();
    QList<QUrl> readable = granted;
    if (!m_folderAccess->documentFolder().isEmpty())
        readable.append(m_folderAccess->documentFolder());
    const quint64 generation = m_folderAccess->generation();

    m_pending.insert(job);
    QPointer<QWebEngineUrlRequestJob> guardedJob(job);
    // The engine deletes a job it stops; forget it then, so no late answer can reach it.
    connect(job, &QObject::destroyed, this, [this, job] { m_pending.remove(job); });
    QuietTask::detached<MarkdownLocalImages::Read>(
        this, [file, readable, granted] { return MarkdownLocalImages::read(file, readable, granted); },
        [this, guardedJob, job, request, generation](MarkdownLocalImages::Read result) {
            if (!guardedJob || !m_pending.contains(job))
                return;
            m_pending.remove(job);
            switch (result.kind) {
            case MarkdownLocalImages::Read::Kind::image: {
                auto* body = new QBuffer(job);
                body->setData(result.bytes);
                job->reply(result.mimeType.toLatin1(), body);
                emit imageRequestFinished(request, true);
                return;
            }
            case MarkdownLocalImages::Read::Kind::refused:
                if (m_folderAccess)
                    m_folderAccess->noteRefused(result.target, generation);
                job->fail(QWebEngineUrlRequestJob::RequestDenied);
                break;
            case MarkdownLocalImages::Read::Kind::unavailable:
                job->fail(QWebEngineUrlRequestJob::UrlNotFound);
                break;
            }
            emit imageRequestFinished(request, false);
        });
}
