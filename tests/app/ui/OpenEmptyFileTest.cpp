#include "tools/markdown/ui/MarkdownSchemeHandler.h"
#include "kit/ui/CodeTextView.h"
#include "support/QuorrixTestMain.h"
#include "tools/json/JSONToolViewModel.h"
#include "kit/ui/CodeEditor.h"
#include "tools/json/ui/JSONToolView.h"
#include "tools/markdown/MarkdownToolViewModel.h"
#include "tools/markdown/ui/MarkdownTextEditor.h"
#include "tools/markdown/ui/MarkdownToolView.h"
#include "tools/mermaid/MermaidToolViewModel.h"
#include "tools/mermaid/ui/MermaidEditor.h"
#include "tools/mermaid/ui/MermaidToolView.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

// Every editor that opens files: after the user has typed, opening an empty file shows an empty
// editor, and what is typed next is all the document holds.
class OpenEmptyFileTest : public QObject {
    Q_OBJECT
private slots:
    void emptyFileAfterTyping_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::newRow("markdown") << QStringLiteral("markdown");
        QTest::newRow("json") << QStringLiteral("json");
        QTest::newRow("mermaid") << QStringLiteral("mermaid");
    }

    void emptyFileAfterTyping()
    {
        QFETCH(QString, tool);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty.") + (tool == QLatin1String("markdown") ? "md" : tool == QLatin1String("json") ? "json" : "mmd"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();

        // The model outlives the view that shows it.
        std::shared_ptr<QObject> model;
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        std::function<QString()> modelText;
        std::function<void(const QUrl&)> open;
        CodeTextView* editor = nullptr;
        if (tool == QLatin1String("markdown")) {
            auto m = std::make_shared<MarkdownToolViewModel>();
            auto* view = new MarkdownToolView(m.get());
            layout->addWidget(view);
            editor = view->editor();
            modelText = [m] { return m->markdownText(); };
            open = [m](const QUrl& url) { m->open(url); };
            model = m;
        } else if (tool == QLatin1String("json")) {
            auto m = std::make_shared<JSONToolViewModel>();
            auto* view = new JSONToolView(m.get());
            layout->addWidget(view);
            editor = view->inputEditor()->textView();
            modelText = [m] { return m->text(); };
            open = [m](const QUrl& url) { m->open(url); };
            model = m;
        } else {
            auto m = std::make_shared<MermaidToolViewModel>();
            auto* view = new MermaidToolView(m.get());
            layout->addWidget(view);
            editor = view->editor()->textView();
            modelText = [m] { return m->source(); };
            open = [m](const QUrl& url) { m->open(url); };
            model = m;
        }
        window.resize(1000, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        editor->setFocus();
        editor->setSelection(editor->length(), editor->length());
        QTest::keyClicks(editor, "typed");
        QTRY_VERIFY_WITH_TIMEOUT(modelText().endsWith(QLatin1String("typed")), 5000);

        open(QUrl::fromLocalFile(path));
        QTRY_VERIFY_WITH_TIMEOUT(modelText().isEmpty(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(editor->length(), qsizetype(0), 5000);
        QCOMPARE(editor->text(), QString());

        editor->setFocus();
        QTest::keyClicks(editor, "x");
        QCOMPARE(editor->text(), QStringLiteral("x"));
        QTRY_COMPARE_WITH_TIMEOUT(modelText(), QStringLiteral("x"), 5000);
        QCOMPARE(editor->text(), QStringLiteral("x"));
    }
};

QUORRIX_TEST_MAIN_WITH_SETUP(OpenEmptyFileTest, MarkdownSchemeHandler::registerScheme())
#include "OpenEmptyFileTest.moc"
