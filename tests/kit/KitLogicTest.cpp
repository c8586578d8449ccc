#include "kit/ByteSizeLabel.h"
#include "kit/CodeTextCaret.h"
#include "kit/DynamicColor.h"
#include "kit/PaneBadge.h"
#include "kit/Palette.h"
#include "kit/StatusColor.h"
#include "kit/TextHelpers.h"
#include "kit/TextUnits.h"

#include "support/DesktopPalettes.h"
#include "support/QuorrixTestMain.h"

Q_DECLARE_METATYPE(TextRange)

#include <QLocale>
#include <QRandomGenerator>
#include <QTextCursor>
#include <QTextDocument>

using TextHelpers::Range;

namespace {

QPalette paletteWithWindow(const QColor& window)
{
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    return palette;
}

} // namespace

class KitLogicTest : public QObject {
    Q_OBJECT
private slots:
    void caretStaysInTheText_data()
    {
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<qsizetype>("anchor");
        QTest::addColumn<qsizetype>("caret");
        QTest::addColumn<TextRange>("selection");
        QTest::addColumn<bool>("moved");
        QTest::newRow("inside") << qsizetype(10) << qsizetype(7) << qsizetype(3) << TextRange{3, 4} << true;
        QTest::newRow("past the end") << qsizetype(5) << qsizetype(2) << qsizetype(40) << TextRange{2, 3} << true;
        QTest::newRow("before the start") << qsizetype(5) << qsizetype(-3) << qsizetype(1) << TextRange{0, 1} << true;
        QTest::newRow("where it was") << qsizetype(5) << qsizetype(0) << qsizetype(0) << TextRange{0, 0} << false;
        QTest::newRow("empty text") << qsizetype(0) << qsizetype(4) << qsizetype(9) << TextRange{0, 0} << false;
    }
    void caretStaysInTheText()
    {
        QFETCH(qsizetype, length);
        QFETCH(qsizetype, anchor);
        QFETCH(qsizetype, caret);
        QFETCH(TextRange, selection);
        QFETCH(bool, moved);
        int moves = 0;
        CodeTextCaret model([length] { return length; }, [&](qsizetype oldAnchor, qsizetype oldCaret, bool byUser) {
            QCOMPARE(oldAnchor, 0);
            QCOMPARE(oldCaret, 0);
            QVERIFY(byUser);
            ++moves;
        });
        QVERIFY(!model.setUpstream(false));
        QVERIFY(model.setUpstream(true));
        model.select(anchor, caret, true);
        QCOMPARE(model.selection(), selection);
        QCOMPARE(model.hasSelection(), selection.length > 0);
        QCOMPARE(moves, moved ? 1 : 0);
        // A move puts the caret at the start of a wrapped row; staying put keeps its side.
        QCOMPARE(model.isUpstream(), !moved);
    }
    void changedRanges_data()
    {
        QTest::addColumn<QString>("oldText");
        QTest::addColumn<QString>("newText");
        QTest::addColumn<TextRange>("oldRange");
        QTest::addColumn<TextRange>("newRange");
        QTest::newRow("insertion") << "abc" << "abXc" << TextRange{2, 0} << TextRange{2, 1};
        QTest::newRow("deletion at the end") << "aaa" << "aa" << TextRange{2, 1} << TextRange{2, 0};
        QTest::newRow("identical") << "same" << "same" << TextRange{4, 0} << TextRange{4, 0};
        QTest::newRow("replace all") << "abc" << "xyz" << TextRange{0, 3} << TextRange{0, 3};
        QTest::newRow("from empty") << "" << "new" << TextRange{0, 0} << TextRange{0, 3};
        // Common parts longer than one comparison step, on both sides.
        QTest::newRow("long common parts") << QString(10000, u'a') + "1" + QString(9000, u'b')
                                           << QString(10000, u'a') + "22" + QString(9000, u'b')
                                           << TextRange{10000, 1} << TextRange{10000, 2};
        // A repeated text: the common start is taken first, so the end cannot overlap it.
        QTest::newRow("repeats") << "aaaa" << "aaaaaa" << TextRange{4, 0} << TextRange{4, 2};
    }
    void changedRanges()
    {
        QFETCH(QString, oldText);
        QFETCH(QString, newText);
        QFETCH(TextRange, oldRange);
        QFETCH(TextRange, newRange);
        const auto [a, b] = TextHelpers::changedRanges(oldText, newText);
        QCOMPARE(a, oldRange);
        QCOMPARE(b, newRange);
        // Replacing the one by the other gives the new text.
        QCOMPARE(QString(oldText).replace(a.location, a.length, newText.mid(b.location, b.length)), newText);
    }

    void repairedUTF16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QChar hi(0xD83D), lo(0xDE00), fffd(0xFFFD);
        QTest::newRow("plain") << QStringLiteral("abc") << QStringLiteral("abc");
        QTest::newRow("pair kept") << (QString("a") + hi + lo) << (QString("a") + hi + lo);
        QTest::newRow("lone high at end") << (QString("a") + hi) << (QString("a") + fffd);
        QTest::newRow("lone low first") << (QString(lo) + "a") << (QString(fffd) + "a");
        QTest::newRow("reversed pair") << (QString(lo) + hi) << (QString(fffd) + fffd);
        QTest::newRow("high high low") << (QString(hi) + hi + lo) << (QString(fffd) + hi + lo);
        QTest::newRow("empty") << QString() << QString();
        // Long texts are passed over 64 units at a time.
        const QString run = QString(63, u'a');
        QTest::newRow("pair across a run's end") << (run + hi + lo + run) << (run + hi + lo + run);
        QTest::newRow("lone high ending a run") << (run + hi + run) << (run + fffd + run);
        QTest::newRow("lone low after plain runs") << (run + run + run + lo) << (run + run + run + fffd);
        QTest::newRow("pair, then a lone low runs later") << (QString(hi) + lo + run + run + lo + "b")
                                                          << (QString(hi) + lo + run + run + fffd + "b");
    }
    void repairedUTF16()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(TextHelpers::repairedUTF16(text), expected);
    }

    void repairedUTF16AgainstAPlainModel()
    {
        // Random mixes of surrogates and letters against a code-point-by-code-point model.
        QRandomGenerator random(17);
        const char16_t alphabet[] = {u'a', 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xFFFD, u'\n'};
        for (int round = 0; round < 2000; ++round) {
            QString text;
            const int length = int(random.bounded(12));
            for (int i = 0; i < length; ++i)
                text.append(QChar(alphabet[random.bounded(int(std::size(alphabet)))]));
            QString model;
            for (qsizetype i = 0; i < text.size(); ++i) {
                const QChar c = text[i];
                if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
                    model += c;
                    model += text[++i];
                } else {
                    model += c.isSurrogate() ? QChar(0xFFFD) : c;
                }
            }
            QCOMPARE(TextHelpers::repairedUTF16(text), model);
        }
    }

    void byteSizeLabel_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("zero") << qint64(0) << QString() << "0 B";
        QTest::newRow("negative") << qint64(-5) << QString() << "-5 B";
        QTest::newRow("last bytes") << qint64(1023) << QString() << "1023 B";
        QTest::newRow("first KB") << qint64(1024) << QString() << "1 KB";
        QTest::newRow("rounds down") << qint64(2047) << "svg" << "1 KB svg";
        QTest::newRow("last KB") << qint64(1048575) << QString() << "1023 KB";
        QTest::newRow("first MB") << qint64(1048576) << QString() << "1.0 MB";
        QTest::newRow("MB with suffix") << qint64(1572864) << "html" << "1.5 MB html";
        QTest::newRow("large, no grouping") << qint64(5000LL * 1048576) << QString() << "5000.0 MB";
        QTest::newRow("bytes with suffix") << qint64(12) << "signature" << "12 B signature";
    }
    void byteSizeLabel()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, suffix);
        QFETCH(QString, expected);
        QCOMPARE(::byteSizeLabel(bytes, suffix), expected);
    }

    void byteSizeLabelIgnoresCommaLocale()
    {
        const QLocale saved;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QString label = ::byteSizeLabel(1572864);
        QLocale::setDefault(saved);
        QCOMPARE(label, QStringLiteral("1.5 MB"));
    }

    void lineCount_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("lines");
        QTest::newRow("empty") << QString() << qsizetype(0);
        QTest::newRow("one letter") << "a" << qsizetype(1);
        QTest::newRow("letter LF") << "a\n" << qsizetype(2);
        QTest::newRow("CR LF is one break") << "a\r\nb" << qsizetype(2);
        QTest::newRow("lone CR is a break") << "a\rb" << qsizetype(2);
        QTest::newRow("lone LF") << "\n" << qsizetype(2);
        QTest::newRow("LF CR is two") << "\n\r" << qsizetype(3);
        QTest::newRow("mixed") << "a\r\n\r\nb\rc\n" << qsizetype(5);
        QTest::newRow("trailing CR") << "a\r" << qsizetype(2);
        QTest::newRow("separators are not breaks") << QString::fromUtf16(u"a\u2028b\u2029c") << qsizetype(1);
    }
    void lineCount()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, lines);
        QCOMPARE(TextHelpers::lineCount(text), lines);
    }

    void normalizedLineBreaks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "a\nb" << "a\nb";
        QTest::newRow("CR LF") << "a\r\nb\r\n" << "a\nb\n";
        QTest::newRow("CR") << "a\rb\r" << "a\nb\n";
        QTest::newRow("CR CR LF") << "\r\r\n" << "\n\n";
    }
    void normalizedLineBreaks()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const QString normal = TextHelpers::normalizedLineBreaks(text);
        QCOMPARE(normal, expected);
        QCOMPARE(TextHelpers::lineCount(normal), TextHelpers::lineCount(text));
    }

    void lineBreakEditRange_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qsizetype>("location");
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<qsizetype>("change");
        QTest::addColumn<bool>("afterBreak");
        QTest::addColumn<qsizetype>("start");
        QTest::addColumn<qsizetype>("rangeLength");
        // Text after the edit.
        QTest::newRow("typed at line start") << "ab\nXcd" << qsizetype(3) << qsizetype(1) << qsizetype(1) << true
                                             << qsizetype(3) << qsizetype(1);
        QTest::newRow("typed at text start") << "Xab" << qsizetype(0) << qsizetype(1) << qsizetype(1) << true
                                             << qsizetype(0) << qsizetype(1);
        QTest::newRow("typed mid line") << "abXcd" << qsizetype(2) << qsizetype(1) << qsizetype(1) << false
                                        << qsizetype(2) << qsizetype(2);
        QTest::newRow("deleted mid line") << "abcd" << qsizetype(2) << qsizetype(0) << qsizetype(-1) << false
                                          << qsizetype(2) << qsizetype(1);
        QTest::newRow("after paragraph separator") << QString::fromUtf16(u"a\u2029X") << qsizetype(2) << qsizetype(1)
                                                   << qsizetype(1) << true << qsizetype(2) << qsizetype(1);
        QTest::newRow("after CR moves back") << "a\rX" << qsizetype(2) << qsizetype(1) << qsizetype(1) << false
                                             << qsizetype(1) << qsizetype(2);
        QTest::newRow("typed at end is capped") << "abX" << qsizetype(2) << qsizetype(1) << qsizetype(1) << false
                                                << qsizetype(2) << qsizetype(1);
        QTest::newRow("replacement is no insertion") << "a\nXY" << qsizetype(2) << qsizetype(2) << qsizetype(1)
                                                     << false << qsizetype(2) << qsizetype(2);
        QTest::newRow("beyond the text") << "ab" << qsizetype(5) << qsizetype(1) << qsizetype(1) << false
                                         << qsizetype(2) << qsizetype(0);
    }
    void lineBreakEditRange()
    {
        QFETCH(QString, text);
        QFETCH(qsizetype, location);
        QFETCH(qsizetype, length);
        QFETCH(qsizetype, change);
        QFETCH(bool, afterBreak);
        QFETCH(qsizetype, start);
        QFETCH(qsizetype, rangeLength);
        QCOMPARE(TextHelpers::isInsertAfterLineBreak(Range{location, length}, change, text), afterBreak);
        QCOMPARE(TextHelpers::lineBreakEditRange(Range{location, length}, change, text), (Range{start, rangeLength}));
    }

    void textUnits_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same") << "abc" << "abc" << true;
        QTest::newRow("composed vs decomposed") << QString::fromUtf16(u"\u00E9") << QString::fromUtf16(u"e\u0301") << false;
        QTest::newRow("length differs") << "ab" << "abc" << false;
        QTest::newRow("empty") << QString() << QString("") << true;
        QTest::newRow("one unit differs") << "abcd" << "abce" << false;
    }
    void textUnits()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, equal);
        QCOMPARE(TextUnits(a) == TextUnits(b), equal);
        QCOMPARE(TextUnits(a) != TextUnits(b), !equal);
    }

    void textUnitsFromSeparateStorage()
    {
        // One built from UTF-8, one from UTF-16: the same units are equal.
        const QString fromUtf8 = QString::fromUtf8("gr\xC3\xBC\xC3\x9F");
        const QString fromUtf16 = QString::fromUtf16(u"gr\u00FC\u00DF");
        QVERIFY(fromUtf8.constData() != fromUtf16.constData());
        QVERIFY(TextUnits(fromUtf8) == TextUnits(fromUtf16));
    }

    void paletteValues_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QColor>("light");
        QTest::addColumn<QColor>("dark");
        QTest::newRow("teal") << "teal" << QColor("#007D8A") << QColor("#00D2E0");
        QTest::newRow("green") << "green" << QColor("#1F7F36") << QColor("#8CCC80");
        QTest::newRow("orange") << "orange" << QColor("#B85000") << QColor("#FF9230");
        QTest::newRow("crimson") << "crimson" << QColor("#D11A45") << QColor("#FF375F");
        QTest::newRow("muted") << "muted" << QColor("#737373") << QColor("#8A8A8A");
        QTest::newRow("copper") << "copper" << QColor("#BF4709") << QColor("#FB923C");
        QTest::newRow("dim") << "dim" << QColor("#646464") << QColor("#9A9A9A");
        QTest::newRow("blue") << "blue" << QColor("#0068DA") << QColor("#419CFF");
        QTest::newRow("placeholder") << "placeholder" << QColor("#737373") << QColor("#8A8A8A");
        QTest::newRow("prompt") << "prompt" << QColor("#646464") << QColor("#9A9A9A");
        QTest::newRow("searchPrompt") << "searchPrompt" << QColor("#646464") << QColor("#C0C0C0");
        QTest::newRow("segment 1") << "segment1" << QColor("#D02B30") << QColor("#FF4245");
        QTest::newRow("segment 2") << "segment2" << QColor("#B029C4") << QColor("#DB34F2");
        QTest::newRow("segment 3") << "segment3" << QColor("#0070D6") << QColor("#0091FF");
        QTest::newRow("segment 4") << "segment4" << QColor("#007D8A") << QColor("#00D2E0");
        QTest::newRow("segment 5") << "segment5" << QColor("#985F2C") << QColor("#B78A66");
    }
    void paletteValues()
    {
        QFETCH(QString, name);
        QFETCH(QColor, light);
        QFETCH(QColor, dark);
        const QHash<QString, const DynamicColor*> colours = {
            {"teal", &Palette::teal()},       {"green", &Palette::green()},   {"orange", &Palette::orange()},
            {"crimson", &Palette::crimson()}, {"muted", &Palette::muted()},   {"copper", &Palette::copper()},
            {"dim", &Palette::dim()},         {"blue", &Palette::blue()},     {"placeholder", &Palette::placeholder()},
            {"prompt", &Palette::prompt()},   {"searchPrompt", &Palette::searchPrompt()},
            {"segment1", Palette::segments().at(0)}, {"segment2", Palette::segments().at(1)},
            {"segment3", Palette::segments().at(2)}, {"segment4", Palette::segments().at(3)},
            {"segment5", Palette::segments().at(4)},
        };
        const DynamicColor* colour = colours.value(name);
        QVERIFY(colour);
        QCOMPARE(colour->resolved(paletteWithWindow(QColor("#F2F2F2"))).rgba(), light.rgba());
        QCOMPARE(colour->resolved(paletteWithWindow(QColor("#202020"))).rgba(), dark.rgba());
        QCOMPARE(colour->resolved(false).rgba(), light.rgba());
        QCOMPARE(colour->resolved(true).rgba(), dark.rgba());
    }

    void paletteIdentities()
    {
        QCOMPARE(&Palette::placeholder(), &Palette::muted());
        QVERIFY(&Palette::prompt() != &Palette::dim());
        QVERIFY(Palette::prompt() == Palette::dim());
        QCOMPARE(Palette::segments().size(), 5);
        QCOMPARE(Palette::segments().at(3), &Palette::teal());
    }

    void statusColours_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QColor>("light");
        QTest::addColumn<QColor>("dark");
        QTest::newRow("green") << 0 << QColor("#15803D") << QColor("#4ADE80");
        QTest::newRow("amber") << 1 << QColor("#B45309") << QColor("#FBBF24");
        QTest::newRow("red") << 2 << QColor("#B91C1C") << QColor("#F87171");
    }
    void statusColours()
    {
        QFETCH(int, which);
        QFETCH(QColor, light);
        QFETCH(QColor, dark);
        const DynamicColor& colour =
            which == 0 ? StatusColor::green() : which == 1 ? StatusColor::amber() : StatusColor::red();
        const QColor shownLight = colour.resolved(paletteWithWindow(Qt::white));
        const QColor shownDark = colour.resolved(paletteWithWindow(QColor("#1E1E1E")));
        QCOMPARE(shownLight.name(), light.name().toLower());
        QCOMPARE(shownDark.name(), dark.name().toLower());
        QCOMPARE(shownLight.alphaF(), 1.0);
        QCOMPARE(shownDark.alphaF(), 1.0);
    }

    void darknessFollowsWindowLightness_data()
    {
        QTest::addColumn<QColor>("window");
        QTest::addColumn<bool>("dark");
        QTest::newRow("white") << QColor(Qt::white) << false;
        QTest::newRow("fusion light") << QColor("#EFEFEF") << false;
        QTest::newRow("just light") << QColor(128, 128, 128) << false;
        QTest::newRow("just dark") << QColor(127, 127, 127) << true;
        QTest::newRow("fusion dark") << QColor("#353535") << true;
    }
    void darknessFollowsWindowLightness()
    {
        QFETCH(QColor, window);
        QFETCH(bool, dark);
        QCOMPARE(DynamicColor::isDark(paletteWithWindow(window)), dark);
        QCOMPARE(Palette::teal().resolved(paletteWithWindow(window)), dark ? QColor("#00D2E0") : QColor("#007D8A"));
    }

    // Secondary text is the palette's window text, faded only as far as it still reads at 4.5:1
    // on the window, the pane bars and the content.
    void secondaryFollowsPaletteText_data()
    {
        QTest::addColumn<QPalette>("palette");
        for (const auto& [name, palette] : desktopPalettes())
            QTest::newRow(name) << palette;
    }
    void secondaryFollowsPaletteText()
    {
        QFETCH(QPalette, palette);
        const QColor secondary = DynamicColor::secondary().resolved(palette);
        QCOMPARE(secondary.rgb(), palette.color(QPalette::WindowText).rgb());
        QVERIFY(secondary.alphaF() > 0.54 && secondary.alphaF() < 1.0);
        for (QPalette::ColorRole back : {QPalette::Window, QPalette::Base})
            QVERIFY2(DynamicColor::contrast(secondary, palette.color(back)) >= 4.5,
                     qPrintable(QString::number(DynamicColor::contrast(secondary, palette.color(back)))));
        QVERIFY(DynamicColor::tertiary().resolved(palette).alphaF() < secondary.alphaF());
    }

    void contrastRatios_data()
    {
        QTest::addColumn<QColor>("over");
        QTest::addColumn<QColor>("under");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("same") << QColor("#777777") << QColor("#777777") << 1.0;
        QTest::newRow("grey on white") << QColor("#767676") << QColor(Qt::white) << 4.54;
        QTest::newRow("half black on white is mid grey") << QColor(0, 0, 0, 128) << QColor(Qt::white) << 4.0;
    }
    void contrastRatios()
    {
        QFETCH(QColor, over);
        QFETCH(QColor, under);
        QFETCH(double, ratio);
        QVERIFY2(qAbs(DynamicColor::contrast(over, under) - ratio) < 0.02,
                 qPrintable(QString::number(DynamicColor::contrast(over, under))));
    }

    void badgeEquality_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("sameTint");
        QTest::addColumn<bool>("equal");
        QTest::newRow("same") << "VALID" << "VALID" << true << true;
        QTest::newRow("other text") << "VALID" << "INVALID" << true << false;
        QTest::newRow("other tint") << "VALID" << "VALID" << false << false;
        QTest::newRow("canonically equivalent") << QString::fromUtf16(u"CAF\u00C9") << QString::fromUtf16(u"CAFE\u0301") << true << true;
    }
    void badgeEquality()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, sameTint);
        QFETCH(bool, equal);
        const PaneBadge first(a, StatusColor::green());
        const PaneBadge second(b, sameTint ? StatusColor::green() : StatusColor::red());
        QCOMPARE(first == second, equal);
    }
};

QUORRIX_TEST_MAIN(KitLogicTest)
#include "KitLogicTest.moc"
