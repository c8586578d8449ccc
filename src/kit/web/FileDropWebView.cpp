#include "kit/web/FileDropWebView.h"

#include "kit/ui/FocusRing.h"

#include <QChildEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTimer>

FileDropWebView::FileDropWebView(QWidget* parent) : QWebEngineView(parent)
{
    // Only the render widget takes drags; a refused one goes on to the enclosing tool view.
    setAcceptDrops(false);
    // The render widget is created with the page, and again after a render process restarts.
    connect(this, &QWebEngineView::loadStarted, this, &FileDropWebView::watchRenderWidget);
    connect(this, &QWebEngineView::renderProcessTerminated, this,
            [this] { QTimer::singleShot(0, this, &FileDropWebView::watchRenderWidget); });
    watchRenderWidget();
    // The page draws no focus of its own.
    FocusRing::attach(this);
}

void FileDropWebView::childEvent(QChildEvent* event)
{
    QWebEngineView::childEvent(event);
    if (event->added())
        QTimer::singleShot(0, this, &FileDropWebView::watchRenderWidget);
}

void FileDropWebView::watchRenderWidget()
{
    QWidget* render = focusProxy();
    if (!render || render == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = render;
    render->setAcceptDrops(true);
    render->installEventFilter(this);
}

bool FileDropWebView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watched && handleDragEvent(event))
        return true;
    if (watched == m_watched && event->type() == QEvent::KeyPress) {
        // The page is read, not filled in: Tab goes on to the window's next control rather than
        // into the page, which would keep it.
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
            && !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            focusNextPrevChild(key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

bool FileDropWebView::handleDragEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter: {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        const QMimeData* mime = drag->mimeData();
        bool hasFile = false;
        if (mime && mime->hasUrls()) {
            for (const QUrl& url : mime->urls())
                hasFile = hasFile || url.isLocalFile();
        }
        if (!hasFile) {
            drag->ignore();
            return true;
        }
        if (m_fileDrop && m_fileDrop->targeted)
            m_fileDrop->targeted(true);
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        return true;
    }
    case QEvent::DragLeave:
        if (m_fileDrop && m_fileDrop->targeted)
            m_fileDrop->targeted(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!m_fileDrop) {
            drop->ignore();
            return true;
        }
        if (m_fileDrop->targeted)
            m_fileDrop->targeted(false);
        // `targeted` may have replaced or removed the actions.
        if (!m_fileDrop || !m_fileDrop->open) {
            drop->ignore();
            return true;
        }
        QList<QUrl> files;
        if (const QMimeData* mime = drop->mimeData()) {
            for (const QUrl& url : mime->urls()) {
                if (url.isLocalFile())
                    files.append(url);
            }
        }
        const bool taken = m_fileDrop->open(files);
        drop->setDropAction(Qt::CopyAction);
        if (taken)
            drop->accept();
        else
            drop->ignore();
        // The drag is over once dropped.
        if (m_fileDrop && m_fileDrop->targeted)
            m_fileDrop->targeted(false);
        return true;
    }
    default:
        return false;
    }
}
