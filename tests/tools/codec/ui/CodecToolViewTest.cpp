#include "support/BadgeText.h"
#include "support/QuorrixTestMain.h"
#include "kit/ByteSizeLabel.h"
#include "kit/TextHelpers.h"
#include "kit/ui/PaneButton.h"
#include "kit/ui/ToolPane.h"
#include "kit/ui/ToolbarSegmentedPicker.h"
#include "tools/codec/CodecToolViewModel.h"
#include "tools/codec/ui/CodecTool.h"
#include "tools/codec/ui/CodecToolView.h"
#include "kit/ui/CodeEditor.h"
#include "kit/ui/CodeTextView.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <memory>

Q_DECLARE_METATYPE(Codec::Scheme)
Q_DECLARE_METATYPE(Codec::Direction)

namespace {

struct Fixture {
    std::unique_ptr<CodecToolViewModel> model = std::make_unique<CodecToolViewModel>();
    std::unique_ptr<CodecToolView> view;
    Fixture()
    {
        model->setQuietTime(0);
        view = std::make_unique<CodecToolView>(model.get());
        view->resize(1000, 600);
        view->show();
    }
};

#define SETTLE(f)                                                                                  \
    do {                                                                                           \
        QCoreApplication::processEvents();                                                         \
        QTRY_VERIFY_WITH_TIMEOUT(!(f).model->isTransformPending(), 20000);                         \
        QCoreApplication::processEvents();                                                         \
    } while (false)

QStringList shownToggles(const CodecToolView& view)
{
    QStringList titles;
    for (QToolButton* toggle : view.optionToggles()) {
        if (!toggle->isHidden())
            titles << toggle->text();
    }
    return titles;
}

} // namespace

class CodecToolViewTest : public QObject {
    Q_OBJECT
private slots:
    void registration()
    {
        const CodecTool tool;
        QCOMPARE(tool.id(), QStringLiteral("codec"));
        QCOMPARE(tool.name(), QStringLiteral("Encode / Decode"));
        QCOMPARE(tool.symbol(), QStringLiteral("arrow.left.arrow.right"));
        QCOMPARE(tool.category(), ToolCategory::encoding);
        QVERIFY(tool.acceptedExtensions().isEmpty());
        QSettings settings;
        QObject host;
        QObject* viewModel = tool.makeViewModel(settings, &host);
        QVERIFY(qobject_cast<CodecToolViewModel*>(viewModel));
        std::unique_ptr<ToolView> view(tool.makeView(viewModel));
        QVERIFY(qobject_cast<CodecToolView*>(view.get()));
    }

    void firstShowDecodesTheSample()
    {
        Fixture f;
        SETTLE(f);
        QCOMPARE(f.view->title(), QStringLiteral("Encode / Decode"));
        QCOMPARE(f.view->subtitle(), QString::fromUtf8("Decode \xC2\xB7 Base64"));
        QVERIFY(f.view->outputEditor()->text().startsWith(QStringLiteral("{\n  \"steps\" : [")));
        QVERIFY(f.view->outputEditor()->colouring());
        QCOMPARE(f.view->outputMetricTexts(), (QStringList{"8 lines", "59 B"}));
        QCOMPARE(f.view->inputMetricTexts(), (QStringList{"1 line", "100 B"}));
        QCOMPARE(badgeText(f.view->inputPane()), QStringLiteral("VALID"));
        QCOMPARE(badgeText(f.view->outputPane()), QString::fromUtf8("GZIP \xE2\x86\x92 JSON"));
        QVERIFY(!f.view->isNoticeShown());
        QCOMPARE(shownToggles(*f.view), (QStringList{"Unpack", "Format JSON"}));
    }

    void toggles_data()
    {
        QTest::addColumn<Codec::Scheme>("scheme");
        QTest::addColumn<Codec::Direction>("direction");
        QTest::addColumn<QStringList>("toggles");
        using S = Codec::Scheme;
        using D = Codec::Direction;
        QTest::newRow("base64 encode") << S::base64 << D::encode << QStringList{"URL-safe"};
        QTest::newRow("base64 decode") << S::base64 << D::decode << QStringList{"Unpack", "Format JSON"};
        QTest::newRow("url encode") << S::url << D::encode << QStringList{"+ as space"};
        QTest::newRow("url decode") << S::url << D::decode << QStringList{"+ as space", "Format JSON"};
        QTest::newRow("html encode") << S::html << D::encode << QStringList{};
        QTest::newRow("html decode") << S::html << D::decode << QStringList{"Format JSON"};
        QTest::newRow("hex encode") << S::hex << D::encode << QStringList{};
        QTest::newRow("hex decode") << S::hex << D::decode << QStringList{"Unpack", "Format JSON"};
    }
    void toggles()
    {
        QFETCH(Codec::Scheme, scheme);
        QFETCH(Codec::Direction, direction);
        QFETCH(QStringList, toggles);
        Fixture f;
        f.model->setScheme(scheme);
        f.model->setDirection(direction);
        QCOMPARE(shownToggles(*f.view), toggles);
        QCOMPARE(f.view->subtitle(), Codec::title(direction) + QString::fromUtf8(" \xC2\xB7 ") + Codec::title(scheme));
        SETTLE(f);
    }

    void hiddenToggleKeepsItsValue()
    {
        Fixture f;
        SETTLE(f);
        QVERIFY(f.view->optionToggles()[2]->isChecked());
        f.view->directionPicker()->segments()[0]->click();
        QCOMPARE(f.model->direction(), Codec::Direction::encode);
        QVERIFY(f.view->optionToggles()[2]->isHidden());
        SETTLE(f);
        QCOMPARE(badgeText(f.view->outputPane()), QStringLiteral("BASE64"));
        f.view->directionPicker()->segments()[1]->click();
        QVERIFY(!f.view->optionToggles()[2]->isHidden());
        QVERIFY(f.view->optionToggles()[2]->isChecked());
        QVERIFY(f.model->options().inflate);
        SETTLE(f);
    }

    void switchingAToggleReruns()
    {
        Fixture f;
        SETTLE(f);
        QSignalSpy published(f.model.get(), &CodecToolViewModel::transformPublished);
        f.view->optionToggles()[3]->click(); // Format JSON off
        QVERIFY(!f.model->options().formatJSON);
        SETTLE(f);
        QCOMPARE(published.count(), 1);
        QCOMPARE(badgeText(f.view->outputPane()), QString::fromUtf8("GZIP \xE2\x86\x92 TEXT"));
        QVERIFY(!f.view->outputEditor()->colouring());
    }

    void failureNotice()
    {
        Fixture f;
        SETTLE(f);
        f.view->schemePicker()->segments()[3]->click(); // Hex
        f.model->setInput(QStringLiteral("abc"));
        SETTLE(f);
        QVERIFY(f.view->isNoticeShown());
        QCOMPARE(f.view->noticeHeadline(), QStringLiteral("Not Hex"));
        QCOMPARE(f.view->noticeMessage(), QStringLiteral("Hex takes two digits per byte, and this has an odd number of digits."));
        QCOMPARE(f.view->outputEditor()->text(), QString());
        QCOMPARE(f.view->outputMetricTexts(), QStringList{"0 B"});
        QVERIFY(!f.view->outputCopyButton()->isEnabled());
        QVERIFY(!f.view->swapButton()->isEnabled());
        QCOMPARE(badgeText(f.view->inputPane()), QStringLiteral("INVALID"));
        // Until the next run publishes, the headline names the scheme that failed.
        f.view->schemePicker()->segments()[0]->click();
        QCOMPARE(f.view->noticeHeadline(), QStringLiteral("Not Hex"));
        SETTLE(f);
        QVERIFY(!f.view->isNoticeShown()); // "abc" is Base64
        f.model->setInput(QStringLiteral("QUJDR"));
        SETTLE(f);
        QCOMPARE(f.view->noticeHeadline(), QStringLiteral("Not Base64"));

        f.model->setInput(QStringLiteral("H4sIAAAAAAAAA6tWKsnPz1GyUnLNS85PSVXQV3BJBTGUdJSKS1IL"));
        SETTLE(f);
        QCOMPARE(f.view->noticeHeadline(), QStringLiteral("Could not unpack"));
        QCOMPARE(badgeText(f.view->inputPane()), QStringLiteral("VALID"));
        f.model->setInput(QStringLiteral("aGk="));
        SETTLE(f);
        QVERIFY(!f.view->isNoticeShown());
    }

    void binaryOutput()
    {
        Fixture f;
        f.model->setInput(QStringLiteral("gIGCg4SFhoeIiYqLjI2Oj5CRkpOUlZaXmJmam5ydnp8="));
        SETTLE(f);
        QCOMPARE(f.view->outputMetricTexts(), QStringList{"32 B"});
        QCOMPARE(badgeText(f.view->outputPane()), QStringLiteral("BINARY"));
        QVERIFY(!f.view->swapButton()->isEnabled());
        QCOMPARE(f.view->outputCopyButton()->toolTip(),
                 QStringLiteral("Copy the hex dump with 16 bytes a row, as hexdump -C prints it"));
        QVERIFY(!f.view->outputEditor()->colouring());
        QTRY_COMPARE(f.view->outputEditor()->text(), f.model->shownOutput());
    }

    void inputButtons()
    {
        Fixture f;
        SETTLE(f);
        QVERIFY(f.view->inputCopyButton()->isEnabled());
        f.view->inputCopyButton()->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), CodecToolViewModel::sampleInput());
        QVERIFY(f.view->isInputCopyFlashing());
        QCOMPARE(f.view->inputCopyButton()->title(), QStringLiteral("Copied"));
        QVERIFY(!f.view->isOutputCopyFlashing());
        QTRY_VERIFY_WITH_TIMEOUT(!f.view->isInputCopyFlashing(), 5000);
        QCOMPARE(f.view->inputCopyButton()->title(), QStringLiteral("Copy"));
        f.view->clearButton()->click();
        QCOMPARE(f.model->input(), QString());
        QCOMPARE(f.view->inputMetricTexts(), (QStringList{"0 lines", "0 B"}));
        QVERIFY(!f.view->inputCopyButton()->isEnabled());
        QVERIFY(!f.view->clearButton()->isEnabled());
        SETTLE(f);
    }

    void swapButton()
    {
        Fixture f;
        f.model->setInput(QStringLiteral("aGkgdGhlcmU="));
        SETTLE(f);
        QVERIFY(f.view->swapButton()->isEnabled());
        f.view->swapButton()->click();
        QCOMPARE(f.view->inputEditor()->text(), QStringLiteral("hi there"));
        QCOMPARE(f.view->subtitle(), QString::fromUtf8("Encode \xC2\xB7 Base64"));
        SETTLE(f);
        QCOMPARE(f.view->outputEditor()->text(), QStringLiteral("aGkgdGhlcmU="));
    }

    // After the user's own text has been transformed, a text the program sets replaces it
    // whole: input, counts and output follow.
    void programTextAfterTypedText_data()
    {
        QTest::addColumn<bool>("swap");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("metrics");
        QTest::addColumn<QString>("output");
        QTest::newRow("cleared") << false << QString() << QStringList{"0 lines", "0 B"} << QString();
        QTest::newRow("swapped") << true << QStringLiteral("hi\nthere") << QStringList{"2 lines", "8 B"}
                                 << QStringLiteral("aGkKdGhlcmU=");
    }
    void programTextAfterTypedText()
    {
        QFETCH(bool, swap);
        QFETCH(QString, input);
        QFETCH(QStringList, metrics);
        QFETCH(QString, output);
        Fixture f;
        SETTLE(f);
        CodeTextView* editor = f.view->inputEditor()->textView();
        editor->setFocus();
        editor->selectAll();
        editor->insertPlainText(QStringLiteral("aGkKdGhlcmU="));
        SETTLE(f);
        QCOMPARE(f.model->shownOutput(), QStringLiteral("hi\nthere"));
        if (swap)
            f.view->swapButton()->click();
        else
            f.view->clearButton()->click();
        QCOMPARE(f.model->input(), input);
        QCOMPARE(editor->text(), input);
        QCOMPARE(f.view->inputMetricTexts(), metrics);
        SETTLE(f);
        QCOMPARE(f.model->shownOutput(), output);
        QCOMPARE(f.view->outputEditor()->text(), output);
    }

    // What the editor holds, one byte a character for Latin-1 lines and UTF-16 for the rest,
    // reaches the transform as the UTF-8 of what was typed.
    void typedTextIsEncodedAsItsUtf8_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("ASCII") << QStringLiteral("plain words");
        QTest::newRow("Latin-1 beyond ASCII") << QStringLiteral(u"caf\u00E9 \u00FF\u00A0\u0080");
        QTest::newRow("beyond Latin-1") << QStringLiteral(u"\u20AC and \U0001F600");
        QTest::newRow("lines of both kinds") << QStringLiteral(u"na\u00EFve\n\u20AC12\n\nend\u00E9");
        QTest::newRow("line breaks only") << QStringLiteral("\n\n");
        // Long enough to be counted off the GUI thread, from the UTF-8.
        QTest::newRow("long text of both kinds") << QStringLiteral(u"caf\u00E9 au lait\n\u20AC 3\n").repeated(6000);
    }
    void typedTextIsEncodedAsItsUtf8()
    {
        QFETCH(QString, typed);
        Fixture f;
        SETTLE(f);
        f.model->setDirection(Codec::Direction::encode);
        SETTLE(f);
        CodeTextView* editor = f.view->inputEditor()->textView();
        editor->setFocus();
        editor->selectAll();
        editor->insertPlainText(typed);
        SETTLE(f);
        QCOMPARE(f.model->shownOutput(), QString::fromLatin1(typed.toUtf8().toBase64()));
        const qsizetype lines = TextHelpers::lineCount(typed);
        QCOMPARE(f.view->inputMetricTexts(),
                 (QStringList{QStringLiteral("%1 %2").arg(lines).arg(lines == 1 ? "line" : "lines"),
                              byteSizeLabel(typed.toUtf8().size())}));
    }

    void typingRequestsATransform()
    {
        Fixture f;
        SETTLE(f);
        f.view->inputEditor()->setText(QString());
        f.view->inputEditor()->textView()->insertPlainText(QStringLiteral("b2s="));
        SETTLE(f);
        QCOMPARE(f.view->outputEditor()->text(), QStringLiteral("ok"));
    }
    void modelFollowsTheInputEditor_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("set");
        QTest::newRow("another text") << QStringLiteral("b2s=") << QStringLiteral("aGk=");
        QTest::newRow("the typed text again") << QStringLiteral("a\nb") << QStringLiteral("a\nb");
        QTest::newRow("an empty text") << QStringLiteral("x") << QString();
    }

    void modelFollowsTheInputEditor()
    {
        QFETCH(QString, typed);
        QFETCH(QString, set);
        Fixture f;
        SETTLE(f);
        CodeTextView* input = f.view->inputEditor()->textView();
        input->setFocus();
        input->selectAll();
        input->insertPlainText(typed);
        QCOMPARE(input->text(), typed);
        QCOMPARE(f.model->input(), input->text());
        QCOMPARE(f.view->inputEditor()->text(), input->text());

        // Everything typed is taken away again: the model holds the empty text too.
        input->selectAll();
        QTest::keyClick(input, Qt::Key_Delete);
        QCOMPARE(input->text(), QString());
        QCOMPARE(f.model->input(), QString());
        SETTLE(f);

        input->insertPlainText(typed);
        QCOMPARE(f.model->input(), typed);
        // The user's edit stays undoable; a program set, even of an equal text, is set anew.
        QVERIFY(input->canUndo());
        f.model->setInput(set);
        QVERIFY(!input->canUndo());
        QCOMPARE(input->text(), set);
        QCOMPARE(f.view->inputEditor()->text(), set);
        SETTLE(f);
        QCOMPARE(f.view->outputEditor()->text(), f.model->shownOutput());
        QCOMPARE(f.view->outputEditor()->textView()->text(), f.model->shownOutput());
    }
};

QUORRIX_TEST_MAIN(CodecToolViewTest)
#include "CodecToolViewTest.moc"
