#include "tools/timestamp/ui/TimestampClipboardWatch.h"

#include "tools/timestamp/ui/TimestampSelectionReader.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QThread>

#include <utility>

TimestampClipboardWatch::TimestampClipboardWatch(QObject* parent) : QObject(parent)
{
    // Under X11 this comes from the server's notice of a new owner: nothing is asked of it.
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
        if (m_watching)
            check();
    });
}

TimestampClipboardWatch::~TimestampClipboardWatch()
{
    if (!m_thread)
        return;
    m_reader->stop();
    m_thread->quit();
    m_thread->wait();
    delete m_reader;
}

void TimestampClipboardWatch::setWatching(bool watching)
{
    if (watching == m_watching)
        return;
    m_watching = watching;
    if (watching)
        check();
}

bool TimestampClipboardWatch::readsThroughX11() const
{
    return QGuiApplication::platformName() == u"xcb";
}

TimestampSelectionReader* TimestampClipboardWatch::reader()
{
    if (m_thread)
        return m_reader;
    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("Clipboard reader"));
    m_reader = new TimestampSelectionReader(ownerTimeoutMs);
    m_reader->moveToThread(m_thread);
    connect(m_reader, &TimestampSelectionReader::checked, this, [this](bool hasText) {
        m_checking = false;
        applyCheck(hasText);
        if (std::exchange(m_checkAgain, false) && m_watching)
            check();
    });
    connect(m_reader, &TimestampSelectionReader::finishedReading, this, &TimestampClipboardWatch::applyRead);
    m_thread->start();
    return m_reader;
}

void TimestampClipboardWatch::check()
{
    if (!readsThroughX11()) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        applyCheck(data && data->hasText());
        return;
    }
    // One question at a time; changes meanwhile are looked at once it is answered.
    if (m_checking) {
        m_checkAgain = true;
        return;
    }
    m_checking = true;
    QMetaObject::invokeMethod(reader(), &TimestampSelectionReader::check, Qt::QueuedConnection);
}

void TimestampClipboardWatch::applyCheck(bool hasText)
{
    if (hasText == m_hasText)
        return;
    m_hasText = hasText;
    emit hasTextChanged(hasText);
}

void TimestampClipboardWatch::readText()
{
    if (!readsThroughX11()) {
        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        if (data && data->hasText())
            emit textRead(data->text());
        return;
    }
    if (m_reading)
        return;
    m_reading = true;
    QMetaObject::invokeMethod(reader(), &TimestampSelectionReader::read, Qt::QueuedConnection);
}

void TimestampClipboardWatch::applyRead(bool ok, const QString& text)
{
    m_reading = false;
    if (ok)
        emit textRead(text);
}
