#include "kit/web/FileDropWebView.h"
#include "kit/ui/OpenPanel.h"
#include "support/QuorrixTestMain.h"

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTemporaryDir>

namespace {

struct DropLog {
    QList<QList<QUrl>> opened;
    QList<bool> targeted;
    bool answer = true;

    FileDrop drop()
    {
        return {[this](const QList<QUrl>& urls) {
                    opened << urls;
                    return answer;
                },
                [this](bool on) { targeted << on; }};
    }
};

QMimeData* mimeWith(const QList<QUrl>& urls, const QString& text = {})
{
    auto* mime = new QMimeData;
    if (!urls.isEmpty())
        mime->setUrls(urls);
    if (!text.isEmpty())
        mime->setText(text);
    return mime;
}

// Sends enter and drop to the widget that Qt delivers drags to; answers whether the drop was taken.
bool dragAndDrop(FileDropWebView& view, QMimeData* mime, bool* entered = nullptr)
{
    QWidget* target = view.focusProxy() ? view.focusProxy() : &view;
    const QPoint at(20, 20);
    QDragEnterEvent enter(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (entered)
        *entered = enter.isAccepted();
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

} // namespace

class FileDropsTest : public QObject {
    Q_OBJECT
private slots:
    void droppedFilesReachTheOwnerInOrder()
    {
        FileDropWebView view;
        view.resize(300, 200);
        view.show();
        QTRY_VERIFY_WITH_TIMEOUT(view.focusProxy() && view.watchedRenderWidget() == view.focusProxy(), 10000);
        DropLog log;
        view.setFileDrop(log.drop());
        const QList<QUrl> files = {QUrl::fromLocalFile("/tmp/b.md"), QUrl::fromLocalFile("/tmp/a.md")};
        QScopedPointer<QMimeData> mime(mimeWith(files));
        QVERIFY(dragAndDrop(view, mime.data()));
        QCOMPARE(log.opened.size(), 1);
        QCOMPARE(log.opened.first(), files);
        QVERIFY(!log.targeted.isEmpty());
        QCOMPARE(log.targeted.first(), true);
        QCOMPARE(log.targeted.last(), false);
    }

    void refusedByTheOwner()
    {
        FileDropWebView view;
        view.show();
        QTRY_VERIFY_WITH_TIMEOUT(view.focusProxy() && view.watchedRenderWidget() == view.focusProxy(), 10000);
        DropLog log;
        log.answer = false;
        view.setFileDrop(log.drop());
        QScopedPointer<QMimeData> mime(mimeWith({QUrl::fromLocalFile("/tmp/x.png")}));
        QVERIFY(!dragAndDrop(view, mime.data()));
        QCOMPARE(log.opened.size(), 1);
    }

    void textDragsNeverReachThePage()
    {
        FileDropWebView view;
        view.show();
        QTRY_VERIFY_WITH_TIMEOUT(view.focusProxy() && view.watchedRenderWidget() == view.focusProxy(), 10000);
        DropLog log;
        view.setFileDrop(log.drop());
        QScopedPointer<QMimeData> text(mimeWith({}, "some text"));
        bool entered = true;
        QVERIFY(!dragAndDrop(view, text.data(), &entered));
        QVERIFY(!entered);
        QScopedPointer<QMimeData> web(mimeWith({QUrl("https://quorrix.example/a.md")}));
        QVERIFY(!dragAndDrop(view, web.data(), &entered));
        QVERIFY(!entered);
        QVERIFY(log.opened.isEmpty());
        QVERIFY(log.targeted.isEmpty());
    }

    void dropWithoutOwnerIsRefused()
    {
        FileDropWebView view;
        view.show();
        QTRY_VERIFY_WITH_TIMEOUT(view.focusProxy() && view.watchedRenderWidget() == view.focusProxy(), 10000);
        QScopedPointer<QMimeData> mime(mimeWith({QUrl::fromLocalFile("/tmp/a.md")}));
        bool entered = false;
        QVERIFY(!dragAndDrop(view, mime.data(), &entered));
        QVERIFY(entered); // the copy badge shows all the same
    }

    void ownerRemovedWhileTargeted()
    {
        FileDropWebView view;
        view.show();
        QTRY_VERIFY_WITH_TIMEOUT(view.focusProxy() && view.watchedRenderWidget() == view.focusProxy(), 10000);
        DropLog log;
        FileDrop drop = log.drop();
        drop.targeted = [&view](bool on) {
            if (!on)
                view.setFileDrop(std::nullopt);
        };
        view.setFileDrop(drop);
        QScopedPointer<QMimeData> mime(mimeWith({QUrl::fromLocalFile("/tmp/a.md")}));
        QVERIFY(!dragAndDrop(view, mime.data()));
        QVERIFY(log.opened.isEmpty());
    }

    void oneOpenPanelAtATime()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("chosen"));
        QStringList calls;
        auto* first = new QFileDialog(nullptr, QString(), dir.path());
        first->setOption(QFileDialog::DontUseNativeDialog);
        first->setFileMode(QFileDialog::Directory);
        presentOpenPanel(first, [&](const QUrl& url) { calls << "first " + url.fileName(); });
        QVERIFY(isOpenPanelShowing());
        auto* second = new QFileDialog(nullptr, QString(), dir.path());
        second->setOption(QFileDialog::DontUseNativeDialog);
        QPointer<QFileDialog> secondGuard(second);
        presentOpenPanel(second, [&](const QUrl&) { calls << "second"; });
        QTRY_VERIFY(!secondGuard); // dropped

        first->selectUrl(QUrl::fromLocalFile(dir.filePath("chosen")));
        static_cast<QDialog*>(first)->done(QDialog::Accepted);
        QVERIFY(!isOpenPanelShowing());
        QCOMPARE(calls.size(), 1);
        QVERIFY(calls.first().startsWith("first "));
    }

    void cancelCallsNothingAndFreesThePanel()
    {
        bool called = false;
        auto* panel = new QFileDialog;
        panel->setOption(QFileDialog::DontUseNativeDialog);
        presentOpenPanel(panel, [&](const QUrl&) { called = true; });
        QVERIFY(isOpenPanelShowing());
        static_cast<QDialog*>(panel)->done(QDialog::Rejected);
        QVERIFY(!isOpenPanelShowing());
        QVERIFY(!called);
        auto* next = new QFileDialog;
        next->setOption(QFileDialog::DontUseNativeDialog);
        presentOpenPanel(next, [](const QUrl&) {});
        QVERIFY(isOpenPanelShowing());
        static_cast<QDialog*>(next)->done(QDialog::Rejected);
    }
};

QUORRIX_TEST_MAIN(FileDropsTest)
#include "FileDropsTest.moc"
