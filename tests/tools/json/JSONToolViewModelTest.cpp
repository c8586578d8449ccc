#include "support/BackgroundWork.h"
#include "support/QuorrixTestMain.h"
#include "support/WrittenFile.h"
#include "tools/json/JSONToolViewModel.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>

using Pane = JSONToolViewModel::Pane;
using OutputMode = JSONToolViewModel::OutputMode;
using JSONFormatter::SortMode;

class JSONToolViewModelTest : public QObject {
    Q_OBJECT

    static void waitForFormat(JSONToolViewModel& m)
    {
        QSignalSpy spy(&m, &JSONToolViewModel::formatFinished);
        QVERIFY(spy.wait(3000));
    }
    static void setTextAndFormat(JSONToolViewModel& m, const QString& text)
    {
        m.setText(text);
        waitForFormat(m);
    }
    static void waitForSearch(JSONToolViewModel& m)
    {
        QSignalSpy spy(&m, &JSONToolViewModel::searchResultChanged);
        QVERIFY(spy.wait(3000));
    }

    // The next buffer of the shown output, once one is ready (QTRY_* would take it twice).
    static std::optional<CodeTextBuffer> nextBuffer(JSONToolViewModel& m)
    {
        std::optional<CodeTextBuffer> buffer;
        QTest::qWaitFor([&] {
            buffer = m.takeShownOutputBuffer();
            return buffer.has_value();
        }, 10000);
        return buffer;
    }

private slots:
    void preparedOutputBuffer_data()
    {
        QTest::addColumn<int>("items");
        QTest::addColumn<bool>("minified");
        QTest::addColumn<bool>("expected");
        QTest::newRow("small document: none") << 3 << false << false;
        QTest::newRow("large document, formatted") << 3000 << false << true;
        QTest::newRow("large document, minified") << 3000 << true << true;
    }
    // A large output comes with its lines split off the GUI thread, exactly the shown output,
    // handed over once; the other output is made, with its lines, when it is switched to, so
    // that switching between the outputs never splits a text on the GUI thread.
    void preparedOutputBuffer()
    {
        QFETCH(int, items);
        QFETCH(bool, minified);
        QFETCH(bool, expected);
        JSONToolViewModel m;
        if (minified)
            m.setOutputMode(OutputMode::minified);
        QString doc = QStringLiteral("[");
        for (int i = 0; i < items; ++i)
            doc += QStringLiteral("%1{\"id\":%2,\"name\":\"item %2\",\"ok\":true}").arg(i ? "," : "").arg(i);
        doc += u']';
        setTextAndFormat(m, doc);
        QVERIFY(!m.shownOutput().isEmpty());
        std::optional<CodeTextBuffer> buffer = m.takeShownOutputBuffer();
        QCOMPARE(buffer.has_value(), expected);
        if (!expected)
            return;
        QCOMPARE(buffer->text(), m.shownOutput());
        QVERIFY(!m.takeShownOutputBuffer());

        // The other output is made when it is switched to.
        const OutputMode other = minified ? OutputMode::formatted : OutputMode::minified;
        m.setOutputMode(other);
        buffer = nextBuffer(m);
        QVERIFY(buffer);
        QCOMPARE(buffer->text(), m.shownOutput());
        QCOMPARE(m.shownOutput().contains(u'\n'), other == OutputMode::formatted);

        // After a small change the buffers are those of the new outputs.
        setTextAndFormat(m, QString(doc).replace(QStringLiteral("item 7\""), QStringLiteral("item 8\"")));
        for (OutputMode mode : {OutputMode::formatted, OutputMode::minified}) {
            m.setOutputMode(mode);
            buffer = nextBuffer(m);
            QVERIFY(buffer);
            QCOMPARE(buffer->text(), m.shownOutput());
            QVERIFY(buffer->text().contains(QStringLiteral("item 8")));
        }
    }
    void startsWithTheSampleUnformatted()
    {
        JSONToolViewModel m;
        QCOMPARE(m.inputMetrics(), JSONTextMetrics(6, 103));
        QVERIFY(m.shownOutput().isEmpty());
        QCOMPARE(m.inputBadge()->text(), QStringLiteral("INVALID"));
        QVERIFY(!m.validation().error);
        QVERIFY(!m.isFormatPending());
    }

    void formatsAfterTheQuietTime()
    {
        JSONToolViewModel m;
        m.refreshIfStale();
        // Nothing before the quiet time has passed: the run is only scheduled.
        QVERIFY(m.isFormatPending());
        QVERIFY(m.shownOutput().isEmpty());
        waitForFormat(m);
        QCOMPARE(m.inputBadge()->text(), QStringLiteral("VALID"));
        QCOMPARE(m.validation().topLevelKeyCount, std::optional<qsizetype>(4));
        QVERIFY2(m.formattedOutput().startsWith(QStringLiteral("{\n  \"tool\" : \"JSON\",")), qPrintable(m.formattedOutput()));
        QVERIFY(!m.minifiedOutput().contains(u'\n'));
        // Nothing changed: a second display starts no run.
        m.refreshIfStale();
        QVERIFY(!m.isFormatPending());
    }

    // A run makes only the output on show, telling the verdict once; the other output comes
    // when it is switched to.
    void outputOnShowArrivesFirst_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("formatted on show") << int(OutputMode::formatted) << QStringList{"formatted", "minified"};
        QTest::newRow("minified on show") << int(OutputMode::minified) << QStringList{"minified", "formatted"};
    }
    void outputOnShowArrivesFirst()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, order);
        JSONToolViewModel m;
        m.refreshIfStale();
        waitForFormat(m);
        m.setOutputMode(OutputMode(mode));
        QStringList arrived;
        connect(&m, &JSONToolViewModel::formattedOutputChanged, this, [&] { arrived << QStringLiteral("formatted"); });
        connect(&m, &JSONToolViewModel::minifiedOutputChanged, this, [&] { arrived << QStringLiteral("minified"); });
        QSignalSpy verdicts(&m, &JSONToolViewModel::validationChanged);
        setTextAndFormat(m, QStringLiteral("{\"b\": [1, 2], \"a\": {\"c\": null}}"));
        QCOMPARE(arrived, order.mid(0, 1));
        QCOMPARE(verdicts.count(), 1);
        m.setOutputMode(OutputMode(1 - mode));
        QTRY_COMPARE_WITH_TIMEOUT(arrived, order, 10000);
        QCOMPARE(verdicts.count(), 1);
        QCOMPARE(m.minifiedOutput(), QStringLiteral("{\"b\":[1,2],\"a\":{\"c\":null}}"));
    }

    void onlyTheLastKeystrokeFormats()
    {
        JSONToolViewModel m;
        QSignalSpy finished(&m, &JSONToolViewModel::formatFinished);
        QString text = QStringLiteral("[1");
        // Keystrokes in one turn of the event loop: each lands inside the quiet time however
        // loaded the machine is, and supersedes the one before.
        for (int i = 0; i < 5; ++i) {
            text += QStringLiteral(",2");
            m.setText(text + u']');
        }
        QCOMPARE(finished.count(), 0);
        QVERIFY(finished.wait(10000));
        // Nothing is scheduled or running any more, so no second run can come.
        QVERIFY(!m.isFormatPending());
        QVERIFY(settleBackgroundWork());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(m.minifiedOutput(), QStringLiteral("[1,2,2,2,2,2]"));
    }

    void invalidInputEmptiesTheOutput_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("blank");
        QTest::newRow("unclosed") << QStringLiteral("{\"a\": ") << false;
        QTest::newRow("trailing comma") << QStringLiteral("[1,]") << false;
        QTest::newRow("blank") << QStringLiteral(" \n\t") << true;
    }
    void invalidInputEmptiesTheOutput()
    {
        QFETCH(QString, input);
        QFETCH(bool, blank);
        JSONToolViewModel m;
        setTextAndFormat(m, QStringLiteral("{\"a\": 1}"));
        QVERIFY(!m.shownOutput().isEmpty());
        const int generation = m.outputGeneration();
        setTextAndFormat(m, input);
        QVERIFY(m.shownOutput().isEmpty());
        QCOMPARE(m.outputSelection(), (TextRange{0, 0}));
        QVERIFY(m.outputGeneration() != generation);
        QCOMPARE(m.inputBadge().has_value(), !blank);
        QCOMPARE(m.validation().error.has_value(), !blank);
        if (!blank)
            QVERIFY(m.validation().error->contains(QStringLiteral("line 1")));
        QCOMPARE(m.text(), input); // a failed format never changes the input
    }

    void unchangedOutputKeepsSelectionAndGeneration()
    {
        JSONToolViewModel m;
        setTextAndFormat(m, QStringLiteral("{\"only\": [3, 1]}"));
        const int generation = m.outputGeneration();
        m.setSortMode(SortMode::ascending);
        m.scheduleFormat();
        waitForFormat(m);
        QCOMPARE(m.outputGeneration(), generation);
    }

    void searchCountsMatchesInBothPanes()
    {
        JSONToolViewModel m;
        setTextAndFormat(m, QStringLiteral("{\"name\": \"name\", \"b\": \"Émile\"}"));
        m.setSearchQuery(QStringLiteral("name"));
        QVERIFY(!m.matchStatus(Pane::input) || m.inputMatches().isEmpty());
        waitForSearch(m);
        QCOMPARE(m.inputMatches().size(), 2);
        QCOMPARE(m.outputMatches().size(), 2);
        QCOMPARE(*m.matchStatus(Pane::input), QStringLiteral("2 matches"));
        m.setSearchScope(JSONSearch::Scope::keys);
        m.scheduleSearch();
        waitForSearch(m);
        QCOMPARE(m.inputMatches().size(), 1);
        m.setSearchQuery(QStringLiteral("e"));
        waitForSearch(m);
        m.setSearchScope(JSONSearch::Scope::values);
        m.scheduleSearch();
        waitForSearch(m);
        // Accents are ignored: "e" finds the É.
        QCOMPARE(m.inputMatches().size(), 3);
    }

    void findNextSelectsAndWraps()
    {
        JSONToolViewModel m;
        setTextAndFormat(m, QStringLiteral("[\"ab\", \"ab\"]"));
        m.setSearchQuery(QStringLiteral("ab"));
        waitForSearch(m);
        QCOMPARE(m.activePane(), Pane::output);
        m.revealMatch(true);
        const TextRange first = m.outputMatches().at(0);
        QCOMPARE(m.outputSelection(), first);
        QCOMPARE(m.outputReveal()->range, first);
        QCOMPARE(*m.matchStatus(Pane::output), QStringLiteral("1 of 2 matches"));
        m.revealMatch(true);
        m.revealMatch(true);
        QCOMPARE(m.outputSelection(), first); // wrapped
        const int serial = m.outputReveal()->serial;
        m.revealMatch(false);
        QCOMPARE(m.outputSelection(), m.outputMatches().at(1));
        QVERIFY(m.outputReveal()->serial > serial);
    }

    void findNextBeforeTheSearchRunUsesTheTypedQuery()
    {
        JSONToolViewModel m;
        setTextAndFormat(m, QStringLiteral("[\"xy\"]"));
        QSignalSpy beeps(&m, &JSONToolViewModel::beep);
        m.setSearchQuery(QStringLiteral("xy"));
        m.revealMatch(true);
        QCOMPARE(beeps.count(), 0);
        QCOMPARE(m.outputSelection().length, 2);
    }

    void findNextWithAStaleInputListBeeps()
    {
        JSONToolViewModel m;
        setTextAndFormat(m, QStringLiteral("[\"xy\"]"));
        m.setSearchQuery(QStringLiteral("xy"));
        waitForSearch(m);
        m.selectionChanged({0, 0}, Pane::input);
        QTRY_COMPARE_WITH_TIMEOUT(m.activePane(), Pane::input, 10000);
        m.setText(QStringLiteral("[\"xy\", 1]"));
        QSignalSpy beeps(&m, &JSONToolViewModel::beep);
        m.revealMatch(true);
        QCOMPARE(beeps.count(), 1);
        QCOMPARE(m.inputSelection(), (TextRange{0, 0}));
    }

    void emptyQueryClearsOnTheNextTurn()
    {
        JSONToolViewModel m;
        m.setText(QStringLiteral("[\"xy\"]"));
        m.setSearchQuery(QStringLiteral("xy"));
        waitForSearch(m);
        QSignalSpy spy(&m, &JSONToolViewModel::searchResultChanged);
        m.setSearchQuery(QString());
        QVERIFY(spy.wait(100));
        QVERIFY(!m.matchStatus(Pane::input));
        m.setSearchQuery(QString());
        QVERIFY(!m.isSearchPending());
    }

    void selectionReportsAreDeferred()
    {
        JSONToolViewModel m;
        m.selectionChanged({3, 2}, Pane::input);
        QCOMPARE(m.inputSelection(), (TextRange{0, 0}));
        QTRY_COMPARE_WITH_TIMEOUT(m.inputSelection(), (TextRange{3, 2}), 10000);
        QCOMPARE(m.activePane(), Pane::input);
    }

    void copy_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("copied");
        QTest::newRow("text") << QStringLiteral("[1]") << true;
        QTest::newRow("empty") << QString() << false;
    }
    void copy()
    {
        QFETCH(QString, input);
        QFETCH(bool, copied);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        JSONToolViewModel m;
        m.setText(input);
        QCOMPARE(m.copyInput(), copied);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied ? input : QStringLiteral("before"));
        waitForFormat(m);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        QCOMPARE(m.copyOutput(), copied);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied ? QStringLiteral("[\n  1\n]") : QStringLiteral("before"));
    }

    void editorsHoldTheTexts_data()
    {
        QTest::addColumn<int>("items");
        QTest::newRow("small document") << 3;
        QTest::newRow("large document, outputs made off the GUI thread") << 3000;
    }
    // With editors attached the model reads the texts back from them: copies, searches and
    // switches of the output mode see what the editors show, and a detached model keeps both.
    void editorsHoldTheTexts()
    {
        QFETCH(int, items);
        QString doc = QStringLiteral("[");
        for (int i = 0; i < items; ++i)
            doc += QStringLiteral("%1{\"id\":%2,\"name\":\"item %2\"}").arg(i ? "," : "").arg(i);
        doc += u']';
        const JSONFormatter::Outputs expected =
            JSONFormatter::outputs(doc, JSONFormatter::Indent::spaces(2), SortMode::none, nullptr, true, nullptr);
        JSONToolViewModel m;
        // Stand-ins for the editors: each shows what the model hands it.
        CodeTextBuffer input(m.text()), output(m.shownOutput());
        connect(&m, &JSONToolViewModel::textChanged, this, [&] { input = CodeTextBuffer(m.text()); });
        connect(&m, &JSONToolViewModel::shownOutputChanged, this, [&] {
            output = m.takeShownOutputBuffer().value_or(CodeTextBuffer(m.shownOutput()));
        });
        m.setInputSource([&] { return input.snapshot(); });
        m.setOutputSource([&] { return output.snapshot(); });

        m.setText(doc);
        waitForFormat(m);
        QCOMPARE(m.text(), doc);
        QCOMPARE(output.text(), expected.formatted);
        QCOMPARE(m.shownOutput(), expected.formatted);
        QVERIFY(!m.isShownOutputEmpty());
        QVERIFY(m.copyOutput());
        QCOMPARE(QGuiApplication::clipboard()->text(), expected.formatted);

        m.setSearchQuery(QStringLiteral("item 2"));
        waitForSearch(m);
        QVERIFY(!m.inputMatches().isEmpty());
        QCOMPARE(m.outputMatches().size(), m.inputMatches().size());

        // Each output is made again once the editor shows the other one.
        m.setOutputMode(OutputMode::minified);
        QTRY_COMPARE_WITH_TIMEOUT(output.text(), expected.minified, 10000);
        m.setOutputMode(OutputMode::formatted);
        QTRY_COMPARE_WITH_TIMEOUT(output.text(), expected.formatted, 10000);
        QCOMPARE(m.minifiedOutput(), expected.minified);
        QCOMPARE(m.formattedOutput(), expected.formatted);

        m.setInputSource(nullptr);
        m.setOutputSource(nullptr);
        input = CodeTextBuffer();
        output = CodeTextBuffer();
        QCOMPARE(m.text(), doc);
        QCOMPARE(m.shownOutput(), expected.formatted);
    }

    void sortModeCycles_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("none") << int(SortMode::none) << int(SortMode::ascending);
        QTest::newRow("ascending") << int(SortMode::ascending) << int(SortMode::descending);
        QTest::newRow("descending") << int(SortMode::descending) << int(SortMode::none);
    }
    void sortModeCycles()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        JSONToolViewModel m;
        m.setSortMode(SortMode(from));
        m.cycleSortMode();
        QCOMPARE(int(m.sortMode()), from); // applied on a later turn
        QCoreApplication::processEvents();
        QCOMPARE(int(m.sortMode()), to);
    }

    void open_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("utf-8") << QByteArray("{\"k\": \"\xC3\xA9\"}") << QStringLiteral("{\"k\": \"é\"}");
        QTest::newRow("invalid utf-8") << QByteArray("[\"abc\xFF\"]") << QStringLiteral("[\"abc\uFFFD\"]");
        QTest::newRow("crlf") << QByteArray("[1,\r\n2]") << QStringLiteral("[1,\n2]");
    }
    void open()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        QTemporaryDir dir;
        const QUrl url = writeFile(dir, QStringLiteral("doc.json"), bytes);

        JSONToolViewModel m;
        m.setOutputMode(OutputMode::minified);
        m.setSearchQuery(QStringLiteral("k"));
        QSignalSpy changed(&m, &JSONToolViewModel::textChanged);
        m.open(url);
        QVERIFY(changed.wait(3000));
        QCOMPARE(m.text(), text);
        QCOMPARE(m.fileUrl(), url);
        QCOMPARE(m.outputMode(), OutputMode::minified);
        QCOMPARE(m.searchQuery(), QStringLiteral("k"));
        waitForFormat(m);
        QCOMPARE(m.inputBadge()->text(), QStringLiteral("VALID"));
    }

    // A large file arrives with its lines already split, and is formatted at once: the quiet
    // time is for typing. Line breaks are made LF off the GUI thread too.
    void openLargeFile_data()
    {
        QTest::addColumn<QString>("lineEnd");
        QTest::addColumn<QString>("name");
        QTest::newRow("CR LF, ASCII") << QStringLiteral("\r\n") << QStringLiteral("item");
        QTest::newRow("LF, text beyond ASCII") << QStringLiteral("\n") << QStringLiteral("été 😀 東京");
    }
    void openLargeFile()
    {
        QFETCH(QString, lineEnd);
        QFETCH(QString, name);
        QString doc = QStringLiteral("[") + lineEnd;
        for (int i = 0; i < 4000; ++i)
            doc += QStringLiteral("%1{\"id\": %2, \"name\": \"%3 %2\"}").arg(i ? "," : "").arg(i).arg(name) + lineEnd;
        doc += u']';
        QTemporaryDir dir;
        const QUrl url = writeFile(dir, QStringLiteral("large.json"), doc.toUtf8());

        JSONToolViewModel m;
        QSignalSpy changed(&m, &JSONToolViewModel::textChanged);
        std::optional<CodeTextBuffer> input;
        connect(&m, &JSONToolViewModel::textChanged, this, [&] { input = m.takeInputBuffer(); });
        m.open(url);
        QVERIFY(changed.wait(3000));
        const QString lf = QString(doc).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QCOMPARE(m.text(), lf);
        QVERIFY(input);
        QCOMPARE(input->text(), lf);
        QVERIFY(!m.takeInputBuffer());
        waitForFormat(m);
        QCOMPARE(m.inputBadge()->text(), QStringLiteral("VALID"));
        const std::optional<CodeTextBuffer> output = m.takeShownOutputBuffer();
        QVERIFY(output);
        QCOMPARE(output->text(), m.shownOutput());
        QVERIFY(m.shownOutput().contains(QStringLiteral("\"%1 3999\"").arg(name)));
        QCOMPARE(m.formattedOutput(), QString::fromUtf8(JSONFormatter::format(lf, JSONFormatter::Indent::spaces(2), SortMode::none).text));

        // An edit replaces the file's text as the formatter's input.
        const QString edited = QStringLiteral("{\"a\":") + lf + u'}';
        const auto snapshot = [edited] { return CodeTextBuffer(edited).snapshot(); };
        m.editText(TextEdit{0, 0, QStringLiteral("{\"a\":")}, snapshot);
        m.editText(TextEdit{edited.size() - 1, 0, QStringLiteral("}")}, snapshot);
        waitForFormat(m);
        QCOMPARE(m.text(), edited);
        QCOMPARE(m.inputBadge()->text(), QStringLiteral("VALID"));
        QVERIFY(m.formattedOutput().startsWith(QStringLiteral("{\n  \"a\" : [")));
    }

    void openOfAMissingFileKeepsTheDocument()
    {
        JSONToolViewModel m;
        QSignalSpy error(&m, &JSONToolViewModel::openErrorChanged);
        m.open(QUrl::fromLocalFile(QStringLiteral("/nonexistent/quorrix/none.json")));
        QVERIFY(error.wait(3000));
        QCOMPARE(m.text(), JSONToolViewModel::sampleDocument());
        QVERIFY(m.fileUrl().isEmpty());
        QVERIFY(m.openError().contains(QStringLiteral("none.json")));
        m.setText(QStringLiteral("[]"));
        QVERIFY(m.openError().isEmpty());
    }

    void typingWhileLoadingWins()
    {
        QTemporaryDir dir;
        const QUrl url = writeFile(dir, QStringLiteral("big.json"), "[" + QByteArray("1,").repeated(200000) + "1]");
        JSONToolViewModel m;
        QSignalSpy error(&m, &JSONToolViewModel::openErrorChanged);
        m.open(url);
        // Typed in the same turn as the open: the typing stands, and the user hears why.
        m.setText(QStringLiteral("[\"typed\"]"));
        QCOMPARE(m.openError(), QStringLiteral("\u201Cbig.json\u201D was not opened: the document was edited while the "
                                               "file was being read."));
        // It stands while the typing goes on.
        const QString sentence = m.openError();
        m.setText(QStringLiteral("[\"typed\", 2]"));
        QCOMPARE(m.openError(), sentence);
        waitForFormat(m);
        // The dropped read has come back by now, and changed nothing.
        QVERIFY(settleBackgroundWork());
        QCOMPARE(m.text(), QStringLiteral("[\"typed\", 2]"));
        QVERIFY(m.fileUrl().isEmpty());
        QCOMPARE(m.openError(), sentence);
        // The next open takes it away.
        m.open(writeFile(dir, QStringLiteral("small.json"), "[]"));
        QVERIFY(m.openError().isEmpty());
        QTRY_COMPARE(m.text(), QStringLiteral("[]"));
        QVERIFY(m.openError().isEmpty());
    }
};

QUORRIX_TEST_MAIN(JSONToolViewModelTest)
#include "JSONToolViewModelTest.moc"
