#include "support/QuorrixTestMain.h"
#include "kit/DynamicColor.h"
#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"
#include "tools/codec/CodecToolViewModel.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <memory>

Q_DECLARE_METATYPE(Codec::Scheme)
Q_DECLARE_METATYPE(Codec::Direction)

namespace {

using Scheme = Codec::Scheme;
using Direction = Codec::Direction;

std::unique_ptr<CodecToolViewModel> makeModel()
{
    auto model = std::make_unique<CodecToolViewModel>();
    model->setQuietTime(0);
    // What the view does: every change of a choice requests a transform.
    QObject::connect(model.get(), &CodecToolViewModel::schemeChanged, model.get(), &CodecToolViewModel::scheduleTransform);
    QObject::connect(model.get(), &CodecToolViewModel::directionChanged, model.get(), &CodecToolViewModel::scheduleTransform);
    QObject::connect(model.get(), &CodecToolViewModel::optionsChanged, model.get(), &CodecToolViewModel::scheduleTransform);
    return model;
}

// Runs the event loop until the pending transform has been published.
#define SETTLE(model)                                                                              \
    do {                                                                                           \
        QTRY_VERIFY_WITH_TIMEOUT(!(model).isTransformPending(), 20000);                            \
        QCoreApplication::processEvents();                                                         \
    } while (false)

QString badgeText(const std::optional<PaneBadge>& badge)
{
    return badge ? badge->text() : QStringLiteral("<none>");
}

const QString kFormattedSample =
    "{\n  \"steps\" : [\n    \"base64\",\n    \"gzip\",\n    \"json\"\n  ],\n  \"tool\" : \"Encode / Decode\"\n}";

QString binaryBase64(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(0x80 + i % 100);
    return QString::fromLatin1(bytes.toBase64());
}

} // namespace

class CodecToolViewModelTest : public QObject {
    Q_OBJECT
private slots:
    void startState()
    {
        CodecToolViewModel model;
        QCOMPARE(model.input(), CodecToolViewModel::sampleInput());
        QCOMPARE(model.input().size(), 100);
        QCOMPARE(model.inputByteSize(), 100);
        QCOMPARE(model.inputLineCount(), 1);
        QCOMPARE(model.scheme(), Scheme::base64);
        QCOMPARE(model.direction(), Direction::decode);
        QCOMPARE(model.options(), (Codec::Options{false, false, true, true}));
        QVERIFY(!model.output());
        QVERIFY(!model.failure());
        QCOMPARE(model.shownOutput(), QString());
        QCOMPARE(model.dumpBytesPerRow(), 16);
        QCOMPARE(model.outputGeneration(), 0u);
        QVERIFY(!model.isTransformPending());
        QCOMPARE(badgeText(model.inputBadge()), QStringLiteral("<none>"));
    }

    void firstAppearanceDecodesTheSample()
    {
        auto model = makeModel();
        model->transformIfStale();
        QVERIFY(model->isTransformPending());
        SETTLE(*model);
        QVERIFY(!model->failure());
        QVERIFY(model->output());
        QCOMPARE(model->output()->content, Codec::Content::json);
        QCOMPARE(model->output()->compression, std::optional(Inflate::Format::gzip));
        QCOMPARE(model->output()->byteCount, 59);
        QCOMPARE(model->shownOutput(), kFormattedSample);
        QCOMPARE(model->outputLineCount(), 8);
        QCOMPARE(model->outputGeneration(), 1u);
        QCOMPARE(badgeText(model->outputBadge()), QString::fromUtf8("GZIP \xE2\x86\x92 JSON"));
        QCOMPARE(model->outputBadge()->tint(), DynamicColor::secondary());
        QCOMPARE(badgeText(model->inputBadge()), QStringLiteral("VALID"));
        QCOMPARE(model->inputBadge()->tint(), StatusColor::green());
        // Appearing again with nothing changed requests nothing.
        model->transformIfStale();
        QVERIFY(!model->isTransformPending());
    }

    void sameTextRequestsNothingButAdvancesTheGeneration()
    {
        auto model = makeModel();
        model->transformIfStale();
        SETTLE(*model);
        const quint64 generation = model->inputGeneration();
        model->setInput(QString(model->input()));
        QCOMPARE(model->inputGeneration(), generation + 1);
        QVERIFY(!model->isTransformPending());
        model->transformIfStale();
        QVERIFY(model->isTransformPending());
        SETTLE(*model);
    }

    void burstOfEditsPublishesOnce()
    {
        auto model = makeModel();
        QSignalSpy published(model.get(), &CodecToolViewModel::transformPublished);
        model->setInput(QStringLiteral("aA=="));
        model->setInput(QStringLiteral("aGk="));
        model->setInput(QStringLiteral("aGkh"));
        SETTLE(*model);
        QCOMPARE(published.count(), 1);
        QCOMPARE(model->shownOutput(), QStringLiteral("hi!"));
    }

    void supersededRunIsDropped()
    {
        auto model = makeModel();
        QSignalSpy published(model.get(), &CodecToolViewModel::transformPublished);
        model->setInput(binaryBase64(3 << 20));
        // Let the first run start, then replace it.
        QTRY_VERIFY(!model->isTransformPending() || published.count() == 0);
        model->setInput(QStringLiteral("b2s="));
        SETTLE(*model);
        QCOMPARE(published.count(), 1);
        QCOMPARE(model->shownOutput(), QStringLiteral("ok"));
    }

    void inputMetrics()
    {
        auto model = makeModel();
        model->setInput(QStringLiteral("a\r\nb\rc\nd"));
        QCOMPARE(model->inputLineCount(), 4);
        QCOMPARE(model->inputByteSize(), 8);
        model->setInput(QString::fromUtf8("\xC3\xA9"));
        QCOMPARE(model->inputLineCount(), 1);
        QCOMPARE(model->inputByteSize(), 2);
        model->setInput(QString());
        QCOMPARE(model->inputLineCount(), 0);
        QCOMPARE(model->inputByteSize(), 0);
        SETTLE(*model);
    }

    void inputMetricsFollowEditsOfLongTexts()
    {
        // Counted around each change in long texts; always what counting the whole text gives.
        auto model = makeModel();
        QRandomGenerator random(65536);
        const char16_t pieces[] = {u'a', u'\n', u'\r', 0xD83D, 0xDE00, u'\u00e9'};
        QString text(70000, u'x');
        for (auto& c : text)
            c = QChar(pieces[random.bounded(int(std::size(pieces)))]);
        model->setInput(text);
        for (int round = 0; round < 300; ++round) {
            const qsizetype at = random.bounded(int(text.size()));
            const qsizetype removed = std::min<qsizetype>(random.bounded(4), text.size() - at);
            QString inserted;
            for (int i = random.bounded(4); i > 0; --i)
                inserted += QChar(pieces[random.bounded(int(std::size(pieces)))]);
            text.replace(at, removed, inserted);
            model->setInput(text);
            QCOMPARE(model->inputLineCount(), TextHelpers::lineCount(text));
            QCOMPARE(model->inputByteSize(), TextHelpers::utf8Length(text));
        }
        SETTLE(*model);
    }

    void publishOrder()
    {
        auto model = makeModel();
        QStringList order;
        connect(model.get(), &CodecToolViewModel::outputLineCountChanged, this, [&] { order << "lineCount"; });
        connect(model.get(), &CodecToolViewModel::outputGenerationChanged, this, [&] { order << "generation"; });
        connect(model.get(), &CodecToolViewModel::outputChanged, this, [&] { order << "output"; });
        connect(model.get(), &CodecToolViewModel::failureChanged, this, [&] { order << "failure"; });
        connect(model.get(), &CodecToolViewModel::shownOutputChanged, this, [&] { order << "shown"; });
        model->transformIfStale();
        SETTLE(*model);
        QCOMPARE(order, (QStringList{"lineCount", "generation", "output", "failure", "shown"}));
    }

    void failureThenSuccess()
    {
        auto model = makeModel();
        model->transformIfStale();
        SETTLE(*model);
        model->setInput(QStringLiteral("QUJDR"));
        SETTLE(*model);
        QVERIFY(!model->output());
        QCOMPARE(model->failure(), std::optional(Codec::Failure::of(Codec::Failure::Kind::notBase64)));
        QCOMPARE(model->shownOutput(), QString());
        QCOMPARE(model->outputLineCount(), 0);
        QCOMPARE(badgeText(model->inputBadge()), QStringLiteral("INVALID"));
        QCOMPARE(model->inputBadge()->tint(), StatusColor::red());
        QCOMPARE(badgeText(model->outputBadge()), QStringLiteral("<none>"));
        QVERIFY(!model->canSwap());
        model->setInput(QStringLiteral("QUJD"));
        SETTLE(*model);
        QVERIFY(!model->failure());
        QCOMPARE(model->shownOutput(), QStringLiteral("ABC"));
        QCOMPARE(badgeText(model->outputBadge()), QStringLiteral("TEXT"));
    }

    void failureKeepsTheSchemeOfItsRun()
    {
        auto model = makeModel();
        model->setScheme(Scheme::hex);
        model->setInput(QStringLiteral("abc"));
        SETTLE(*model);
        QCOMPARE(model->failure()->kind, Codec::Failure::Kind::oddHexLength);
        QCOMPARE(model->resultScheme(), Scheme::hex);
        // A scheme chosen after the run does not rename the failure shown.
        disconnect(model.get(), &CodecToolViewModel::schemeChanged, nullptr, nullptr);
        model->setScheme(Scheme::base64);
        QCOMPARE(model->resultScheme(), Scheme::hex);
    }

    void badges_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<Scheme>("scheme");
        QTest::addColumn<Direction>("direction");
        QTest::addColumn<QString>("inputBadge");
        QTest::addColumn<QString>("outputBadge");
        QTest::newRow("encode has no input badge") << "hi" << Scheme::base64 << Direction::encode << "<none>" << "BASE64";
        QTest::newRow("url encode") << "a b" << Scheme::url << Direction::encode << "<none>" << "URL";
        QTest::newRow("html encode") << "<" << Scheme::html << Direction::encode << "<none>" << "HTML";
        QTest::newRow("hex encode") << "hi" << Scheme::hex << Direction::encode << "<none>" << "HEX";
        QTest::newRow("blank decode input") << " \n\t " << Scheme::base64 << Direction::decode << "<none>" << "<none>";
        QTest::newRow("blank hex input") << " \n " << Scheme::hex << Direction::decode << "<none>" << "<none>";
        QTest::newRow("binary") << "gA==" << Scheme::base64 << Direction::decode << "VALID" << "BINARY";
        QTest::newRow("bad percent") << "%zz" << Scheme::url << Direction::decode << "INVALID" << "<none>";
        QTest::newRow("damaged gzip is valid input") << "H4sIAAAAAAAAA6tWKsnPz1GyUnLNS85PSVXQV3BJBTGUdJSKS1IL" << Scheme::base64
                                                     << Direction::decode << "VALID" << "<none>";
        QTest::newRow("empty encode output") << "" << Scheme::hex << Direction::encode << "<none>" << "<none>";
    }
    void badges()
    {
        QFETCH(QString, input);
        QFETCH(Scheme, scheme);
        QFETCH(Direction, direction);
        QFETCH(QString, inputBadge);
        QFETCH(QString, outputBadge);
        auto model = makeModel();
        model->setScheme(scheme);
        model->setDirection(direction);
        model->setInput(input);
        SETTLE(*model);
        QCOMPARE(badgeText(model->inputBadge()), inputBadge);
        QCOMPARE(badgeText(model->outputBadge()), outputBadge);
    }

    void damagedGzipShowsTheFailure()
    {
        auto model = makeModel();
        model->setInput(QStringLiteral("H4sIAAAAAAAAA6tWKsnPz1GyUnLNS85PSVXQV3BJBTGUdJSKS1IL"));
        SETTLE(*model);
        QCOMPARE(model->failure(), std::optional(Codec::Failure::damaged(Inflate::Format::gzip)));
    }

    void binaryDumpFitsThePane()
    {
        auto model = makeModel();
        QVERIFY(!model->fitDump(50)); // text output (nothing yet): no dump pending
        QCOMPARE(model->dumpBytesPerRow(), 8);
        QVERIFY(!model->isTransformPending());
        model->setInput(binaryBase64(40));
        SETTLE(*model);
        QCOMPARE(model->output()->content, Codec::Content::binary);
        QCOMPARE(model->outputText(), Codec::hexDumpText(16, *model->output()->dump));
        QCOMPARE(model->shownOutput(), Codec::hexDumpText(8, *model->output()->dump));
        QCOMPARE(model->shownBytesPerRow(), std::optional(8));
        QCOMPARE(model->outputLineCount(), 3);

        // Narrower: a 4-byte dump is pending until its task publishes.
        QVERIFY(model->fitDump(44));
        QCOMPARE(model->dumpBytesPerRow(), 4);
        QTRY_COMPARE(model->shownBytesPerRow(), std::optional(4));
        QVERIFY(!model->fitDump(44));
        QCOMPARE(model->shownOutput(), Codec::hexDumpText(4, *model->output()->dump));

        // Wider again: the output text itself, 16 bytes a row.
        model->fitDump(78);
        QTRY_COMPARE(model->shownBytesPerRow(), std::optional(16));
        QCOMPARE(model->shownOutput(), model->outputText());

        // Copy takes the 16-bytes-a-row dump whatever the pane shows.
        model->fitDump(50);
        QTRY_COMPARE(model->shownBytesPerRow(), std::optional(8));
        model->copyOutput();
        QCOMPARE(QGuiApplication::clipboard()->text(), model->outputText());
        QVERIFY(!model->canSwap());
    }

    void widthChangeWithTextStartsNoTask()
    {
        auto model = makeModel();
        model->transformIfStale();
        SETTLE(*model);
        QSignalSpy shown(model.get(), &CodecToolViewModel::shownOutputChanged);
        QVERIFY(!model->fitDump(30));
        QCOMPARE(model->dumpBytesPerRow(), 4);
        QVERIFY(!model->shownBytesPerRow());
        QCoreApplication::processEvents();
        QCOMPARE(shown.count(), 0);
        // The next binary result comes at that width at once.
        model->setInput(binaryBase64(10));
        SETTLE(*model);
        QCOMPARE(model->shownBytesPerRow(), std::optional(4));
    }

    void swapMovesTheOutputAndTurnsTheDirection()
    {
        auto model = makeModel();
        model->setOptions(Codec::Options{false, true, true, false});
        model->setInput(QStringLiteral("aGkgdGhlcmU="));
        SETTLE(*model);
        QVERIFY(model->canSwap());
        model->swap();
        QCOMPARE(model->input(), QStringLiteral("hi there"));
        QCOMPARE(model->direction(), Direction::encode);
        QCOMPARE(model->scheme(), Scheme::base64);
        QCOMPARE(model->options(), (Codec::Options{false, true, true, false}));
        SETTLE(*model);
        QCOMPARE(model->shownOutput(), QStringLiteral("aGkgdGhlcmU="));
    }

    void copy()
    {
        auto model = makeModel();
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        CodecToolViewModel::copyToPasteboard(QString());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        CodecToolViewModel::copyToPasteboard(QStringLiteral("after"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("after"));
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{QStringLiteral("text/plain")});
        // No output: nothing copied.
        model->copyOutput();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("after"));
        model->transformIfStale();
        SETTLE(*model);
        model->copyOutput();
        QCOMPARE(QGuiApplication::clipboard()->text(), kFormattedSample);
    }
};

QUORRIX_TEST_MAIN(CodecToolViewModelTest)
#include "CodecToolViewModelTest.moc"
