#include "support/QuorrixTestMain.h"
#include "formats/BulkCodec.h"
#include "formats/Utf8Decoder.h"
#include "formats/Encodings.h"
#include "tools/codec/Codec.h"

#include <QMap>
#include <QRandomGenerator>
#include <QStringDecoder>

#include <atomic>
#include <optional>

// The Base64 and UTF-8 conversions against plain models that read one character at a time:
// random short texts full of blanks, other-alphabet characters and padding, and texts of
// several megabytes, which are done in parts side by side, with blanks, marks and faults placed
// right where those parts may begin.

namespace {

// Strict UTF-8 as UTF-16, a leading byte-order mark kept, as the Codec tool reads decoded text.
std::optional<QString> strictUtf8(QByteArrayView bytes, const std::atomic_bool* cancelled = nullptr)
{
    return Utf8Decoder::decode(bytes, {Utf8Decoder::IllFormed::fail, Utf8Decoder::ByteOrderMark::keep, cancelled});
}

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

QString modelEncode(const QByteArray& bytes, bool urlSafe)
{
    const char* alphabet = urlSafe ? kUrlSafe : kStandard;
    QString out;
    quint32 bits = 0;
    int held = 0;
    for (char c : bytes) {
        bits = bits << 8 | static_cast<unsigned char>(c);
        held += 8;
        while (held >= 6) {
            held -= 6;
            out += QLatin1Char(alphabet[(bits >> held) & 63]);
        }
    }
    if (held > 0)
        out += QLatin1Char(alphabet[(bits << (6 - held)) & 63]);
    while (!urlSafe && out.size() % 4)
        out += QLatin1Char('=');
    return out;
}

// UTF-8 one code point at a time; a lone surrogate is U+FFFD.
QByteArray modelUtf8(QStringView text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        else if (QChar::isSurrogate(c))
            c = 0xFFFD;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 63));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12);
            out += char(0x80 | ((c >> 6) & 63));
            out += char(0x80 | (c & 63));
        } else {
            out += char(0xF0 | c >> 18);
            out += char(0x80 | ((c >> 12) & 63));
            out += char(0x80 | ((c >> 6) & 63));
            out += char(0x80 | (c & 63));
        }
    }
    return out;
}

bool isMark(char32_t c)
{
    const auto category = QChar::category(c);
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining
        || category == QChar::Mark_Enclosing || c == 0x200D;
}

// The rules as they read: drop the blanks (a blank with the marks after it), read "-" and "_" as
// "+" and "/", refuse one character over a multiple of four, pad, then decode strictly.
std::optional<QByteArray> modelDecode(QStringView text)
{
    QList<char32_t> kept;
    bool afterBlank = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            c = QChar::surrogateToUcs4(char16_t(c), text[++i].unicode());
        if (Encodings::isWhiteSpace(c) || (afterBlank && isMark(c))) {
            afterBlank = true;
            continue;
        }
        afterBlank = false;
        kept.append(c == '-' ? U'+' : c == '_' ? U'/' : c);
    }
    if (kept.size() % 4 == 1)
        return std::nullopt;
    while (kept.size() % 4)
        kept.append(U'=');
    QByteArray out;
    for (qsizetype q = 0; q < kept.size(); q += 4) {
        const bool last = q + 4 == kept.size();
        quint32 group = 0;
        int pads = 0;
        for (int j = 0; j < 4; ++j) {
            const char32_t c = kept[q + j];
            group <<= 6;
            if (c == '=') {
                if (!last)
                    return std::nullopt;
                ++pads;
                continue;
            }
            const char* at = c < 128 ? strchr(kStandard, int(c)) : nullptr;
            if (!at || c == 0 || pads)
                return std::nullopt;
            group |= quint32(at - kStandard);
        }
        if (pads > 2)
            return std::nullopt;
        for (int j = 0; j < 3 - pads; ++j)
            out += char(group >> (16 - 8 * j));
    }
    return out;
}

// Strict UTF-8 as the platform's decoder reads it.
std::optional<QString> referenceText(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QByteArray randomBytes(QRandomGenerator& random, qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (auto& b : bytes)
        b = static_cast<char>(random.bounded(256));
    return bytes;
}

// Every place where a text of n units may be cut into parts, for every number of parts.
QList<qsizetype> cutPlaces(qsizetype n)
{
    QList<qsizetype> places;
    for (qsizetype parts = 2; parts <= 64; ++parts) {
        for (qsizetype k = 1; k < parts; ++k)
            places.append(n / parts * k);
    }
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    return places;
}

// The places where a text of n units is cut on this machine.
QList<qsizetype> actualCuts(qsizetype n)
{
    QList<qsizetype> places;
    const int parts = BulkCodec::partCount(n);
    for (qsizetype k = 1; k < parts; ++k)
        places.append(n / parts * k);
    return places;
}

// A text of n units: the inserts at their places, the body's characters everywhere else.
QString layOut(qsizetype n, const QMap<qsizetype, QString>& inserts, QStringView body)
{
    QString out;
    out.reserve(n);
    qsizetype from = 0;
    for (auto it = inserts.begin(); it != inserts.end() && it.key() < n; ++it) {
        const qsizetype fill = it.key() - out.size();
        if (fill > 0) {
            out += body.sliced(from, fill);
            from += fill;
        }
        out += it.value();
    }
    if (out.size() < n)
        out += body.sliced(from, n - out.size());
    out.truncate(n);
    return out;
}

enum class Hazard {
    none,
    spaceAtCuts,
    lineBreakEndingAtCuts,
    blankAndMarkAcrossCuts,
    noBreakSpaceAtCuts,
    ideographicSpaceAtCuts,
    shortLines,
    markAfterDataAtCut,
    strayAtFirstCut,
    strayAtLastCut,
    strayAtEnd,
    paddingAtCut,
    emojiAcrossCut,
    blanksThenMarkAtEnd,
    oneLeftOver,
};

constexpr qsizetype kLarge = 4'500'000;

// One large text with the hazard at its places, against the model.
void decodeLarge(Hazard hazard, bool valid, int shift, const QByteArray& bytes, const QString& body)
{
    auto insertsFor = [&](qsizetype n) {
        const QList<qsizetype> cuts = cutPlaces(n);
        QMap<qsizetype, QString> inserts;
        if (shift)
            inserts[16] = QString(shift, QLatin1Char(' '));
        switch (hazard) {
        case Hazard::none:
        case Hazard::oneLeftOver:
            break;
        case Hazard::spaceAtCuts:
            for (qsizetype c : cuts)
                inserts[c] = QStringLiteral(" ");
            break;
        case Hazard::lineBreakEndingAtCuts:
            for (qsizetype c : cuts)
                inserts[c - 2] = QStringLiteral("\r\n");
            break;
        case Hazard::blankAndMarkAcrossCuts:
            // Only where the text is cut: a mark anywhere before would make the parts before
            // it more than plain Base64.
            for (qsizetype c : actualCuts(n))
                inserts[c - 1] = QStringLiteral(" \u0301");
            break;
        case Hazard::noBreakSpaceAtCuts:
            for (qsizetype c : cuts)
                inserts[c] = QStringLiteral("\u00A0");
            break;
        case Hazard::ideographicSpaceAtCuts:
            for (qsizetype c : cuts)
                inserts[c - 1] = QStringLiteral("\u3000");
            break;
        case Hazard::shortLines:
            for (qsizetype at = 70; at < n; at += 71)
                inserts[at] = QStringLiteral("\n");
            break;
        case Hazard::markAfterDataAtCut:
            inserts[actualCuts(n).value(actualCuts(n).size() / 2, n / 2)] = QStringLiteral("\u0301");
            break;
        case Hazard::strayAtFirstCut:
            inserts[cuts.first()] = QStringLiteral("!");
            break;
        case Hazard::strayAtLastCut:
            inserts[cuts.last()] = QStringLiteral(".");
            break;
        case Hazard::strayAtEnd:
            inserts[n - 1] = QStringLiteral("*");
            break;
        case Hazard::paddingAtCut:
            inserts[cuts[cuts.size() / 3] - 2] = QStringLiteral("==");
            break;
        case Hazard::emojiAcrossCut:
            inserts[cuts[cuts.size() / 4] - 1] = QStringLiteral("\U0001F600");
            break;
        case Hazard::blanksThenMarkAtEnd:
            for (qsizetype c : cuts)
                inserts[c] = QStringLiteral("\n");
            inserts[n - 1] = QStringLiteral("\u20DD");
            break;
        }
        qsizetype taken = n;
        for (const QString& insert : inserts)
            taken -= insert.size();
        return std::pair(inserts, taken);
    };
    // Blanks near the end make the body's characters a whole number of groups (or, for the row
    // that wants it, one over) without moving the cuts.
    const qsizetype n = kLarge;
    auto [inserts, taken] = insertsFor(n);
    const qsizetype fix = ((taken - (hazard == Hazard::oneLeftOver ? 1 : 0)) % 4 + 4) % 4;
    if (fix) {
        inserts[n - 8] = QString(fix, QLatin1Char('\n'));
        taken -= fix;
    }
    const QString text = layOut(n, inserts, body);
    QCOMPARE(text.size(), n);

    const auto expected = modelDecode(text);
    QCOMPARE(expected.has_value(), valid);
    const auto actual = Encodings::base64URLDecode(text);
    QCOMPARE(actual.has_value(), expected.has_value());
    // The same text as the UTF-8 the Codec tool holds, cut into parts at other places.
    const QByteArray utf8 = Codec::utf8Of(text);
    QVERIFY(Encodings::base64URLDecode(QByteArrayView(utf8)) == actual);
    if (actual) {
        QCOMPARE(actual->size(), expected->size());
        QVERIFY(*actual == *expected);
        QVERIFY(*actual == bytes.left(taken / 4 * 3));
    } else {
        const auto result = Codec::transform(utf8, Codec::Scheme::base64, Codec::Direction::decode, {});
        QVERIFY(!result.ok());
        QCOMPARE(result.failure->message(),
                 QStringLiteral("This is not Base64. It has a character outside the alphabet, or a length no Base64 text can have."));
    }
}

} // namespace

class Base64LargeTest : public QObject {
    Q_OBJECT
private slots:
    void shortTextsAgainstModel_data()
    {
        QTest::addColumn<int>("seed");
        QTest::addColumn<bool>("urlSafe");
        QTest::addColumn<bool>("padded");
        QTest::addColumn<int>("mutations");
        QTest::newRow("standard, padded, untouched") << 1 << false << true << 0;
        QTest::newRow("url-safe, unpadded, untouched") << 2 << true << false << 0;
        QTest::newRow("standard, padded, a few changes") << 3 << false << true << 2;
        QTest::newRow("url-safe, padded, a few changes") << 4 << true << true << 2;
        QTest::newRow("standard, unpadded, many changes") << 5 << false << false << 8;
        QTest::newRow("url-safe, unpadded, many changes") << 6 << true << false << 8;
    }
    void shortTextsAgainstModel()
    {
        QFETCH(int, seed);
        QFETCH(bool, urlSafe);
        QFETCH(bool, padded);
        QFETCH(int, mutations);
        QRandomGenerator random{quint32(seed)};
        // Changes that keep the text's meaning, then ones that may break it.
        const QStringList blanks = {" ", "\n", "\r\n", "\t", "\v", "\f", QStringLiteral("\u00A0"), QStringLiteral("\u2028"),
                                    QStringLiteral("\u3000"), QStringLiteral("\u1680"), QStringLiteral(" \u0301"),
                                    QStringLiteral("\u2003\u20DD\u0301")};
        const QStringList faults = {"=", "==", "!", ".", QString(QChar(0)), QStringLiteral("\u00E9"), QStringLiteral("\uFF21"),
                                    QStringLiteral("\u0301"), QStringLiteral("\U0001F600"), QString(QChar(0xD800)), "A", "AB"};
        int valid = 0;
        for (int round = 0; round < 3000; ++round) {
            const QByteArray bytes = randomBytes(random, random.bounded(0, 200));
            QString text = modelEncode(bytes, urlSafe);
            if (!padded)
                text.remove(QLatin1Char('='));
            const int changes = mutations ? random.bounded(mutations + 1) : 0;
            bool meaningKept = true;
            for (int c = 0; c < changes; ++c) {
                const qsizetype at = random.bounded(text.size() + 1);
                switch (random.bounded(4)) {
                case 0:
                case 1:
                    text.insert(at, blanks[random.bounded(blanks.size())]);
                    break;
                case 2:
                    // The other alphabet's character for the same value.
                    for (qsizetype i = at; i < text.size(); ++i) {
                        const QChar swapped = text[i] == u'+' ? u'-' : text[i] == u'-' ? u'+'
                            : text[i] == u'/' ? u'_' : text[i] == u'_' ? u'/' : QChar();
                        if (!swapped.isNull()) {
                            text[i] = swapped;
                            break;
                        }
                    }
                    break;
                default:
                    text.insert(at, faults[random.bounded(faults.size())]);
                    meaningKept = false;
                    break;
                }
            }
            const auto expected = modelDecode(text);
            const auto actual = Encodings::base64URLDecode(text);
            QVERIFY2(actual == expected, qPrintable(QStringLiteral("round %1: \"%2\"").arg(round).arg(text)));
            // As UTF-8 (a lone surrogate as U+FFFD, outside the alphabet as well).
            QVERIFY2(Encodings::base64URLDecode(QByteArrayView(Codec::utf8Of(text))) == expected,
                     qPrintable(QStringLiteral("round %1 as UTF-8: \"%2\"").arg(round).arg(text)));
            if (meaningKept) {
                QVERIFY2(actual && *actual == bytes, qPrintable(text));
                ++valid;
            }
        }
        QVERIFY(valid > 300);
    }

    void encodeAgainstModel()
    {
        QRandomGenerator random(77);
        const char16_t palette[] = {u'a', u'Z', u'+', u'\n', u'\u00E9', u'\u07FF', u'\u0800', u'\u20AC', u'\uFFFD',
                                    u'\uFEFF', 0xD83D, 0xDE00, 0xDBFF, 0xDFFF, 0xD800};
        for (int round = 0; round < 3000; ++round) {
            QString text(random.bounded(0, 200), Qt::Uninitialized);
            const int spread = 1 + random.bounded(int(std::size(palette)));
            for (auto& c : text)
                c = QChar(palette[random.bounded(spread)]);
            const QByteArray utf8 = modelUtf8(text);
            for (bool urlSafe : {false, true}) {
                QCOMPARE(Codec::utf8Of(text), utf8);
                QCOMPARE(QString::fromLatin1(Encodings::base64Encode(utf8, urlSafe)), modelEncode(utf8, urlSafe));
            }
        }
    }

    void utf8AgainstPlatform()
    {
        // Fragments that make well-formed and ill-formed UTF-8 when strung together.
        const QList<QByteArray> fragments = {
            "a", "z~", "\xC3\xA9", "\xDF\xBF", "\xE0\xA0\x80", "\xE2\x82\xAC", "\xED\x9F\xBF", "\xEF\xBF\xBF",
            "\xEF\xBB\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xC2",
            "\xE0\x80\x80", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
            "\xF5\x80\x80\x80", "\xFF", "\xE2\x82", "\xF0\x9F\x98",
        };
        QRandomGenerator random(3629);
        int wellFormed = 0;
        for (int round = 0; round < 5000; ++round) {
            QByteArray bytes;
            const int count = random.bounded(0, 24);
            // Mostly well-formed inserts, so that faults stand alone in longer texts.
            const int reach = round % 3 == 0 ? int(fragments.size()) : 11;
            for (int i = 0; i < count; ++i)
                bytes += fragments[random.bounded(reach)];
            const auto expected = referenceText(bytes);
            QCOMPARE(strictUtf8(bytes), expected);
            wellFormed += expected.has_value();
        }
        QVERIFY(wellFormed > 1000);
    }

    void largeDecode_data()
    {
        QTest::addColumn<Hazard>("hazard");
        QTest::addColumn<bool>("urlSafe");
        QTest::addColumn<bool>("valid");
        // With 4, the text is tried four times, with 0 to 3 more blanks near its start, so that a
        // cut falls after every count of alphabet characters modulo four.
        QTest::addColumn<int>("shifts");
        QTest::newRow("clean, standard alphabet") << Hazard::none << false << true << 1;
        QTest::newRow("clean, url-safe alphabet") << Hazard::none << true << true << 1;
        QTest::newRow("a space at every cut") << Hazard::spaceAtCuts << false << true << 4;
        QTest::newRow("a line break ending at every cut") << Hazard::lineBreakEndingAtCuts << true << true << 4;
        QTest::newRow("a blank before and a combining mark after every cut") << Hazard::blankAndMarkAcrossCuts << false << true << 4;
        QTest::newRow("a no-break space at every cut") << Hazard::noBreakSpaceAtCuts << false << true << 1;
        QTest::newRow("an ideographic space at every cut") << Hazard::ideographicSpaceAtCuts << true << true << 1;
        QTest::newRow("lines of seventy characters") << Hazard::shortLines << false << true << 1;
        QTest::newRow("a combining mark after data at a cut") << Hazard::markAfterDataAtCut << false << false << 4;
        QTest::newRow("a stray character at the first cut") << Hazard::strayAtFirstCut << false << false << 1;
        QTest::newRow("a stray character at the last cut") << Hazard::strayAtLastCut << true << false << 1;
        QTest::newRow("a stray character at the very end") << Hazard::strayAtEnd << false << false << 1;
        QTest::newRow("padding at a cut in the middle") << Hazard::paddingAtCut << false << false << 1;
        QTest::newRow("an emoji across a cut") << Hazard::emojiAcrossCut << false << false << 1;
        QTest::newRow("blanks at every cut, a lone mark at the end") << Hazard::blanksThenMarkAtEnd << false << false << 1;
        QTest::newRow("one character left over") << Hazard::oneLeftOver << true << false << 1;
    }
    void largeDecode()
    {
        QFETCH(Hazard, hazard);
        QFETCH(bool, urlSafe);
        QFETCH(bool, valid);
        QFETCH(int, shifts);
        QRandomGenerator random{quint32(hazard) * 31 + quint32(urlSafe)};
        const QByteArray bytes = randomBytes(random, kLarge);
        const QString body = modelEncode(bytes, urlSafe);
        for (int shift = 0; shift < shifts && !QTest::currentTestFailed(); ++shift)
            decodeLarge(hazard, valid, shift, bytes, body);
    }

    void largeEncode_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("ascii only") << 0;
        QTest::newRow("one-, two- and three-byte characters") << 1;
        QTest::newRow("surrogate pairs across every cut") << 2;
        QTest::newRow("lone surrogates at every cut") << 3;
        QTest::newRow("four-byte characters everywhere") << 4;
    }
    void largeEncode()
    {
        QFETCH(int, kind);
        QRandomGenerator random{quint32(900 + kind)};
        const char16_t mixed[] = {u'a', u'b', u' ', u'\n', u'\u00E9', u'\u0416', u'\u20AC', u'\u4E2D'};
        QString text(kLarge + kind, Qt::Uninitialized);
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (kind == 4 && i + 1 < text.size() && random.bounded(2)) {
                const char32_t c = 0x10000 + random.bounded(0x100000);
                text[i] = QChar::highSurrogate(c);
                text[++i] = QChar::lowSurrogate(c);
                continue;
            }
            text[i] = QChar(kind == 0 ? mixed[random.bounded(4)] : mixed[random.bounded(int(std::size(mixed)))]);
        }
        for (qsizetype c : cutPlaces(text.size())) {
            if (kind == 2) {
                text[c - 1] = QChar(0xD83D);
                text[c] = QChar(0xDE00);
            } else if (kind == 3) {
                text[c - 1] = QChar(u'x');
                text[c] = QChar(c % 2 ? 0xDC00 : 0xD800);
            }
        }
        const QByteArray utf8 = modelUtf8(text);
        QVERIFY(Codec::utf8Of(text) == utf8);
        for (bool urlSafe : {false, true}) {
            const QByteArray encoded = Encodings::base64Encode(utf8, urlSafe);
            QVERIFY(QString::fromLatin1(encoded) == modelEncode(utf8, urlSafe));
            const auto back = Encodings::base64URLDecode(QByteArrayView(encoded));
            QVERIFY(back && *back == utf8);
        }
        const auto output = Codec::transform(utf8, Codec::Scheme::base64, Codec::Direction::encode, {});
        QCOMPARE(output.output->byteCount, (utf8.size() + 2) / 3 * 4);
    }

    void largeUtf8_data()
    {
        QTest::addColumn<QByteArray>("atCuts");
        QTest::addColumn<int>("shift");
        QTest::addColumn<bool>("valid");
        QTest::newRow("two-byte sequences across every cut") << QByteArray("\xC3\xA9") << -1 << true;
        QTest::newRow("three-byte sequences across every cut") << QByteArray("\xE2\x82\xAC") << -2 << true;
        QTest::newRow("four-byte sequences one in before every cut") << QByteArray("\xF0\x9F\x98\x80") << -1 << true;
        QTest::newRow("four-byte sequences three in before every cut") << QByteArray("\xF0\x9F\x98\x80") << -3 << true;
        QTest::newRow("a stray continuation byte at every cut") << QByteArray("\x80") << 0 << false;
        QTest::newRow("a sequence cut short at every cut") << QByteArray("\xE2\x82") << -2 << false;
        QTest::newRow("an encoded surrogate across every cut") << QByteArray("\xED\xA0\x80") << -1 << false;
        QTest::newRow("five continuation bytes across every cut") << QByteArray("\xF0\x9F\x98\x80\x80\x80") << -3 << false;
        QTest::newRow("an overlong form across every cut") << QByteArray("\xE0\x80\x80") << -1 << false;
    }
    void largeUtf8()
    {
        QFETCH(QByteArray, atCuts);
        QFETCH(int, shift);
        QFETCH(bool, valid);
        QRandomGenerator random(1234);
        const QList<QByteArray> fill = {"a", "b", " ", "\n", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
        // A byte-order mark first, kept.
        QByteArray bytes("\xEF\xBB\xBF");
        while (bytes.size() < kLarge)
            bytes += fill[random.bounded(fill.size())];
        // Around every cut the characters give way to plain letters, then the sequence goes in at
        // its place, so that the rest stays well-formed.
        for (qsizetype c : cutPlaces(bytes.size())) {
            qsizetype from = c - 8;
            while ((static_cast<unsigned char>(bytes[from]) & 0xC0) == 0x80)
                --from;
            qsizetype to = c + 8;
            while ((static_cast<unsigned char>(bytes[to]) & 0xC0) == 0x80)
                ++to;
            bytes.replace(from, to - from, QByteArray(to - from, 'z'));
            bytes.replace(c + shift, atCuts.size(), atCuts);
        }
        const auto expected = referenceText(bytes);
        QCOMPARE(expected.has_value(), valid);
        const auto actual = strictUtf8(bytes);
        QCOMPARE(actual.has_value(), valid);
        if (actual) {
            QVERIFY(*actual == *expected);
            QCOMPARE(actual->front(), QChar(0xFEFF));
        }
    }

    void cancelledRunsGiveNothing()
    {
        std::atomic_bool cancelled{true};
        const QString text = modelEncode(QByteArray(kLarge, 'q'), false);
        QVERIFY(!Encodings::base64URLDecode(text, &cancelled).has_value());
        QVERIFY(!Encodings::base64URLDecode(QByteArrayView(text.toLatin1()), &cancelled).has_value());
        QVERIFY(!strictUtf8(QByteArray(kLarge, 'q'), &cancelled).has_value());
        std::atomic_bool running{false};
        QVERIFY(Encodings::base64URLDecode(text, &running).has_value());
        QVERIFY(Encodings::base64URLDecode(QByteArrayView(text.toLatin1()), &running).has_value());
    }
};

QUORRIX_TEST_MAIN(Base64LargeTest)
#include "Base64LargeTest.moc"
