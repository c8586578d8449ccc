#include "support/QuorrixTestMain.h"
#include "tools/markdown/ScrollSyncController.h"

#include <QtTest/QtTest>

using Level = ScrollSyncController::Level;
using Pane = ScrollSyncController::Pane;
using Mode = ScrollSyncController::Mode;

class ScrollSyncControllerTest : public QObject {
    Q_OBJECT

    // Records what the panes were asked to do.
    struct Panes {
        QList<Level> editor;
        QList<std::pair<Level, bool>> preview;
        QStringList calls;
        void install(ScrollSyncController& sync)
        {
            sync.applyToEditor = [this](const Level& l) {
                editor.append(l);
                calls << QStringLiteral("editor");
            };
            sync.applyToPreview = [this](const Level& l, bool glide) {
                preview.append({l, glide});
                calls << QStringLiteral("preview");
            };
            sync.editorToStart = [this] { calls << QStringLiteral("editorToStart"); };
            sync.previewToTop = [this] { calls << QStringLiteral("previewToTop"); };
        }
    };

    static double lineIsTenth(double y) { return y / 10; }

private slots:
    void firstStepStartsAtTarget()
    {
        ScrollSyncController sync;
        Panes panes;
        panes.install(sync);
        sync.step(Pane::editor, 30, 120, lineIsTenth);
        QCOMPARE(sync.current->windowY, 120.0);
        QCOMPARE(sync.current->line, 12.0);
        QCOMPARE(panes.preview.size(), 1);
        QCOMPARE(panes.preview[0].second, false);
        QVERIFY(panes.editor.isEmpty());
    }

    void handoverGlides_data()
    {
        QTest::addColumn<QList<double>>("deltas");
        QTest::addColumn<QList<double>>("heights");
        QTest::newRow("four steps of 50") << QList<double>{50, 50, 50, 50, 50}
                                          << QList<double>{125, 150, 175, 200, 200};
        QTest::newRow("negative deltas count by size") << QList<double>{-100, -100} << QList<double>{150, 200};
        QTest::newRow("zero delta stays at start") << QList<double>{0, 0} << QList<double>{100, 100};
        QTest::newRow("one big step") << QList<double>{400} << QList<double>{200};
    }
    void handoverGlides()
    {
        QFETCH(QList<double>, deltas);
        QFETCH(QList<double>, heights);
        ScrollSyncController sync;
        Panes panes;
        panes.install(sync);
        // The editor left the reading height at 100; the preview now leads towards 200.
        sync.followCaret(Level{3, 100}, false);
        for (int i = 0; i < deltas.size(); ++i) {
            sync.step(Pane::preview, deltas[i], 200, lineIsTenth);
            QCOMPARE(sync.current->windowY, heights[i]);
            QCOMPARE(panes.editor.last(), *sync.current);
        }
        QCOMPARE(sync.leader, Pane::preview);
        QCOMPARE(sync.mode, Mode::scrolling);
    }

    void followCaretAndFindStartNewHandover()
    {
        ScrollSyncController sync;
        Panes panes;
        panes.install(sync);
        sync.step(Pane::editor, 400, 300, lineIsTenth);
        sync.followCaret(Level{2, 50}, true);
        QCOMPARE(sync.mode, Mode::caret);
        QCOMPARE(panes.preview.last().second, true);
        // Same pane leads, yet a new hand-over starts from the caret's height.
        sync.step(Pane::editor, 100, 250, lineIsTenth);
        QCOMPARE(*sync.handoverStart, 50.0);
        QCOMPARE(sync.current->windowY, 150.0);

        sync.followFind(Level{7, 80});
        QCOMPARE(sync.mode, Mode::previewFind);
        QCOMPARE(sync.leader, Pane::preview);
        QCOMPARE(panes.editor.last(), (Level{7, 80}));
        sync.step(Pane::preview, 0, 200, lineIsTenth);
        QCOMPARE(sync.current->windowY, 80.0);
    }

    void withoutActionsStateStillMoves()
    {
        ScrollSyncController sync;
        sync.step(Pane::preview, 20, 90, lineIsTenth);
        sync.followCaret(Level{1, 2}, true);
        sync.followFind(Level{3, 4});
        sync.alignEditor();
        sync.reset();
        QVERIFY(!sync.current);
    }

    void alignEditor()
    {
        ScrollSyncController sync;
        Panes panes;
        panes.install(sync);
        sync.alignEditor();
        QVERIFY(panes.calls.isEmpty());
        QCOMPARE(sync.leader, Pane::editor);
        QVERIFY(!sync.handoverStart);

        sync.followCaret(Level{4, 60}, false);
        sync.scrolled = 99;
        sync.alignEditor();
        QCOMPARE(sync.leader, Pane::preview);
        QCOMPARE(*sync.handoverStart, 60.0);
        QCOMPARE(sync.scrolled, 0.0);
        QCOMPARE(sync.mode, Mode::caret);
        QCOMPARE(panes.editor.last(), (Level{4, 60}));
    }

    void resetAndClear()
    {
        ScrollSyncController sync;
        Panes panes;
        panes.install(sync);
        sync.step(Pane::preview, 50, 100, lineIsTenth);
        panes.calls.clear();
        sync.reset();
        QCOMPARE(panes.calls, (QStringList{"editorToStart", "previewToTop"}));
        QVERIFY(!sync.current);
        QVERIFY(!sync.handoverStart);
        QCOMPARE(sync.leader, Pane::editor);

        sync.followFind(Level{1, 1});
        panes.calls.clear();
        sync.clear();
        QVERIFY(panes.calls.isEmpty());
        QVERIFY(!sync.current);
        QCOMPARE(sync.mode, Mode::scrolling);
    }

    void reapply()
    {
        ScrollSyncController sync;
        Panes panes;
        panes.install(sync);
        sync.reapplyToEditor();
        sync.reapplyToPreview();
        QVERIFY(panes.calls.isEmpty());
        sync.followCaret(Level{5, 10}, true);
        sync.reapplyToEditor();
        sync.reapplyToPreview();
        QCOMPARE(panes.editor.last(), (Level{5, 10}));
        QCOMPARE(panes.preview.last().second, false);
    }

    void naturalReadingHeight_data()
    {
        QTest::addColumn<double>("viewport");
        QTest::addColumn<double>("content");
        QTest::addColumn<double>("scrollY");
        QTest::addColumn<double>("expected");
        QTest::newRow("content shorter than viewport") << 500.0 << 300.0 << 0.0 << 40.0;
        QTest::newRow("at the top of a long document") << 500.0 << 5000.0 << 0.0 << 40.0;
        QTest::newRow("before the last stretch") << 500.0 << 5000.0 << 4000.0 << 40.0;
        QTest::newRow("half way into the last stretch") << 500.0 << 5000.0 << 4250.0 << 290.0;
        QTest::newRow("scrolled to the end") << 500.0 << 5000.0 << 4500.0 << 540.0;
        QTest::newRow("short overhang") << 500.0 << 600.0 << 50.0 << 290.0;
        QTest::newRow("no viewport") << 0.0 << 600.0 << 50.0 << 40.0;
    }
    void naturalReadingHeight()
    {
        QFETCH(double, viewport);
        QFETCH(double, content);
        QFETCH(double, scrollY);
        QFETCH(double, expected);
        QCOMPARE(ScrollSyncController::naturalReadingHeight(40, viewport, content, scrollY), expected);
    }
};

QUORRIX_TEST_MAIN(ScrollSyncControllerTest)
#include "ScrollSyncControllerTest.moc"
