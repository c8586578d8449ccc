#include "support/QuorrixTestMain.h"
#include "kit/TextFileLoader.h"
#include "formats/JSONFormatter.h"

#include <QDir>
#include <QRandomGenerator>

using namespace JSONFormatter;

Q_DECLARE_METATYPE(JSONFormatter::SortMode)
Q_DECLARE_METATYPE(JSONFormatter::Indent)

namespace {
// Both printed texts, as the tool's formatting run makes them when the first is not taken.
Outputs outputs(const QString& text, Indent indent, SortMode sort, const std::atomic_bool* cancelled = nullptr)
{
    return JSONFormatter::outputs(text, indent, sort, cancelled, true, nullptr);
}

QString pretty(const QString& text, SortMode sort = SortMode::none, Indent indent = Indent::spaces(2))
{
    const FormatResult r = format(text, indent, sort);
    return r.ok() ? r.text : QStringLiteral("ERROR: ") + r.error->message;
}
QString mini(const QString& text, SortMode sort = SortMode::none)
{
    const FormatResult r = minify(text, sort);
    return r.ok() ? r.text : QStringLiteral("ERROR: ") + r.error->message;
}

// The verdict the tool shows: the one its formatting run gives.
Validation verdictOf(const QString& text)
{
    return outputs(text, Indent::spaces(2), SortMode::none).validation;
}

// The entry points agree on bytes read as a file is opened: one verdict, one fault, and printed
// texts that read back to each other.
void compareEntryPoints(const QByteArray& bytes)
{
    const QString text = TextFileLoader::decodeUTF8Repairing(bytes);
    const Validation v = verdictOf(text);
    const FormatResult p = format(text, Indent::spaces(2), SortMode::none);
    const FormatResult m = minify(text);
    QCOMPARE(p.ok(), v.isValid);
    QCOMPARE(m.ok(), v.isValid);
    if (!v.isValid) {
        QCOMPARE(m.error, p.error);
        return;
    }
    QCOMPARE(minify(p.text).text, m.text);
    // Keys in source order and sorted keys are printed by walks of their own: once sorted, a text
    // prints the same both ways.
    const QByteArray sorted = minify(text, SortMode::ascending).text;
    for (const Indent indent : {Indent::spaces(2), Indent::tabs()})
        QCOMPARE(format(sorted, indent, SortMode::none).text, format(sorted, indent, SortMode::ascending).text);
    QCOMPARE(minify(sorted, SortMode::none).text, sorted);
}

// A random JSON text, mostly valid: blanks, escapes of every kind (surrogates paired and
// lone), numbers of every spelling, text beyond ASCII, deep nesting.
QByteArray randomJson(QRandomGenerator& rng, int depth = 0)
{
    auto pick = [&](std::initializer_list<const char*> list) { return QByteArray(list.begin()[rng.bounded(int(list.size()))]); };
    auto blank = [&] { return rng.bounded(3) ? QByteArray() : pick({" ", "\n  ", "\t", "\r\n", "    "}); };
    auto string = [&] {
        QByteArray s = "\"";
        for (int k = rng.bounded(6); k > 0; --k)
            s += pick({"a", "key", "\\n", "\\\"", "\\\\", "\\/", "\\b\\f\\r\\t", "\\u0041", "\\u00e9", "\\u001F",
                       "\\u007f", "\\u2028", "\\uD83D\\uDE00", "\\ud83d", "\\udE00", "\\ud83d\\ud83d\\ude00", "\\u0000",
                       "é", "東京", "😀", "\\ud83d😀", " ", "%1"});
        return s + "\"";
    };
    auto number = [&] {
        return pick({"0", "-0", "12", "-987654321987654321987", "1.5", "1.50", "-0.0", "0.0001", "0.00001", "0.00012",
                     "1e5", "1E+2", "2.5e-3", "1e400", "1e-400", "-65.613616999999977", "43.420273000000009",
                     "9007199254740993.5", "12345678901234567.25", "0.30000000000000004", "0.1", "100.0", "3.14159265358979"})
               + (rng.bounded(4) ? QByteArray() : QByteArray::number(rng.generateDouble() * 1000, 'g', 1 + rng.bounded(17)));
    };
    const int kind = depth > 6 ? 2 + rng.bounded(3) : rng.bounded(6);
    QByteArray out = blank();
    if (kind < 2) {
        const bool object = kind == 0;
        out += object ? "{" : "[";
        for (int k = rng.bounded(5), first = 1; k > 0; --k, first = 0) {
            out += first ? blank() : blank() + "," + blank();
            if (object)
                out += string() + blank() + ":";
            out += randomJson(rng, depth + 1);
        }
        out += blank() + (object ? "}" : "]");
    } else {
        out += kind == 2 ? string() : kind == 3 ? number() : pick({"true", "false", "null"});
    }
    out += blank();
    // A leading mark now and then.
    if (depth == 0 && rng.bounded(10) == 0)
        out.prepend("\xEF\xBB\xBF");
    return out;
}
} // namespace

class JSONFormatterTest : public QObject {
    Q_OBJECT
private slots:
    // The public JSONTestSuite parsing files, read as the tool opens a file: "y_" accepted,
    // "n_" refused, "i_" either, and the verdict, both texts and the error always agree.
    void testSuite_data()
    {
        QTest::addColumn<QString>("path");
        const QDir dir(qEnvironmentVariable("QUORRIX_SOURCE_DIR") + QStringLiteral("/tests/vectors/JSONTestSuite/test_parsing"));
        const QStringList files = dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
        if (files.isEmpty())
            QFAIL("JSONTestSuite files not found");
        for (const QString& name : files)
            QTest::newRow(qPrintable(name)) << dir.filePath(name);
    }
    void testSuite()
    {
        QFETCH(QString, path);
        const std::optional<QString> text = TextFileLoader::loadTextFileNow(path);
        QVERIFY(text);
        const QString name = QFileInfo(path).fileName();
        const Validation v = verdictOf(*text);
        if (name.startsWith(u'y'))
            QVERIFY(v.isValid);
        else if (name.startsWith(u'n'))
            QVERIFY(!v.isValid);
        const FormatResult p = format(*text, Indent::spaces(2), SortMode::none);
        const FormatResult m = minify(*text);
        // The file read as the JSON tool opens it, as bytes, gives the same.
        const std::optional<QByteArray> utf8 = TextFileLoader::loadUTF8FileNow(QUrl::fromLocalFile(path));
        QVERIFY(utf8);
        const Outputs fromBytes = outputs(*utf8, Indent::spaces(2), SortMode::none, nullptr, true, nullptr);
        QCOMPARE(fromBytes.validation, v);
        QCOMPARE(fromBytes.formatted, p.text);
        QCOMPARE(p.ok(), v.isValid);
        QCOMPARE(m.ok(), v.isValid);
        if (!v.isValid) {
            QVERIFY(p.error && m.error);
            QCOMPARE(*m.error, *p.error);
            // A blank text is neither valid nor faulty.
            if (text->trimmed().isEmpty())
                QVERIFY(!v.failure);
            else
                QCOMPARE(v.failure.value_or(FormatError()), *p.error);
            return;
        }
        // The printed texts read back to themselves.
        QCOMPARE(minify(p.text).text, m.text);
        QCOMPARE(pretty(m.text), p.text);
        const Outputs both = outputs(*text, Indent::spaces(2), SortMode::none);
        QCOMPARE(both.formatted, p.text);
        QCOMPARE(both.minified, m.text);
        compareEntryPoints(*utf8);
    }

    // Random texts, and the same with a byte changed (faults, ill-formed UTF-8, cut sequences).
    void randomTexts_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u, 4u})
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }
    void randomTexts()
    {
        QFETCH(quint32, seed);
        QRandomGenerator rng(seed);
        for (int round = 0; round < 1500; ++round) {
            // A control character, or ill-formed UTF-8: a lone lead byte, a surrogate, beyond U+10FFFF,
            // an overlong form, a cut sequence.
            const char* faults[] = {"\x01", "\xC3", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE0\x9F\xBF", "\xF0\x9F\x98"};
            QByteArray bytes = randomJson(rng).replace("%1", faults[rng.bounded(int(std::size(faults)))]);
            if (round % 3 == 0) {
                const char noise[] = {'"', '\\', ',', ':', '}', ']', '[', '{', ' ', 'x', '0', '.', 'e', '\xE9', '\xC3', '\x80', '\n', '\0'};
                const qsizetype at = rng.bounded(bytes.size() + 1);
                switch (rng.bounded(3)) {
                case 0: bytes.insert(at, noise[rng.bounded(int(sizeof noise))]); break;
                case 1: bytes.remove(at, 1); break;
                default: if (at < bytes.size()) bytes[at] = noise[rng.bounded(int(sizeof noise))]; break;
                }
            }
            compareEntryPoints(bytes);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(QStringLiteral("differs on: ") + QString::fromLatin1(bytes.toPercentEncoding())));
        }
    }

    // Deep nesting: every entry point keeps to the cap.
    void nesting_data()
    {
        QTest::addColumn<int>("depth");
        QTest::newRow("at the cap") << maxDepth;
        QTest::newRow("one beyond the cap") << maxDepth + 1;
    }
    void nesting()
    {
        QFETCH(int, depth);
        compareEntryPoints(QByteArray(depth, '[') + "1" + QByteArray(depth, ']'));
        compareEntryPoints(QByteArray(depth, '{').replace("{", "{\"k\":") + "1" + QByteArray(depth, '}'));
    }

    void layout_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<Indent>("indent");
        QTest::addColumn<SortMode>("sort");
        QTest::addColumn<QString>("expected");
        QTest::newRow("sorted object, two spaces")
            << "{\"b\":1,\"a\":[true,null]}" << Indent::spaces(2) << SortMode::ascending
            << "{\n  \"a\" : [\n    true,\n    null\n  ],\n  \"b\" : 1\n}";
        QTest::newRow("source order kept") << "{\"b\":1,\"a\":2}" << Indent::spaces(2) << SortMode::none
                                           << "{\n  \"b\" : 1,\n  \"a\" : 2\n}";
        QTest::newRow("descending") << "{\"a\":1,\"c\":2,\"b\":3}" << Indent::spaces(2) << SortMode::descending
                                    << "{\n  \"c\" : 2,\n  \"b\" : 3,\n  \"a\" : 1\n}";
        QTest::newRow("four spaces") << "[1,[2]]" << Indent::spaces(4) << SortMode::none
                                     << "[\n    1,\n    [\n        2\n    ]\n]";
        QTest::newRow("tabs") << "{\"a\":{\"b\":1}}" << Indent::tabs() << SortMode::none
                              << "{\n\t\"a\" : {\n\t\t\"b\" : 1\n\t}\n}";
        QTest::newRow("empty containers stay on one line")
            << " { \"a\" : { } , \"b\" : [ ] } " << Indent::spaces(2) << SortMode::none
            << "{\n  \"a\" : {},\n  \"b\" : []\n}";
        QTest::newRow("empty object") << "{}" << Indent::spaces(2) << SortMode::none << "{}";
        QTest::newRow("empty array") << "[ ]" << Indent::tabs() << SortMode::none << "[]";
        QTest::newRow("top-level string") << " \"hi\" " << Indent::spaces(2) << SortMode::none << "\"hi\"";
        QTest::newRow("top-level number") << "42" << Indent::spaces(2) << SortMode::none << "42";
        QTest::newRow("top-level true") << "true" << Indent::spaces(2) << SortMode::none << "true";
        QTest::newRow("top-level false") << "\nfalse\n" << Indent::spaces(2) << SortMode::none << "false";
        QTest::newRow("top-level null") << "null" << Indent::spaces(2) << SortMode::none << "null";
        QTest::newRow("upper case sorts first") << "{\"b\":1,\"B\":2,\"a\":3}" << Indent::spaces(2)
                                                << SortMode::ascending << "{\n  \"B\" : 2,\n  \"a\" : 3,\n  \"b\" : 1\n}";
        QTest::newRow("sort is stable for duplicate keys")
            << "{\"k\":1,\"a\":0,\"k\":2}" << Indent::spaces(2) << SortMode::ascending
            << "{\n  \"a\" : 0,\n  \"k\" : 1,\n  \"k\" : 2\n}";
        QTest::newRow("canonically equal keys are equal")
            << QString::fromUtf8("{\"e\\u0301\":1,\"\xC3\xA9\":2,\"f\":3}") << Indent::spaces(2) << SortMode::ascending
            << QString::fromUtf8("{\n  \"f\" : 3,\n  \"e\xCC\x81\" : 1,\n  \"\xC3\xA9\" : 2\n}");
        QTest::newRow("astral keys sort above U+FFxx")
            << QString::fromUtf8("{\"\xF0\x9F\x98\x80\":1,\"\xEF\xBD\xA1\":2}") << Indent::spaces(2)
            << SortMode::ascending << QString::fromUtf8("{\n  \"\xEF\xBD\xA1\" : 2,\n  \"\xF0\x9F\x98\x80\" : 1\n}");
        QTest::newRow("a key that begins with U+FEFF keeps it")
            << QString::fromUtf16(u"{\"\ufeffb\u00e9\":1,\"a\":2}") << Indent::spaces(2) << SortMode::ascending
            << QString::fromUtf16(u"{\n  \"a\" : 2,\n  \"\ufeffb\u00e9\" : 1\n}");
        QTest::newRow("nested objects sorted at every level")
            << "{\"z\":{\"y\":1,\"x\":2},\"a\":0}" << Indent::spaces(2) << SortMode::ascending
            << "{\n  \"a\" : 0,\n  \"z\" : {\n    \"x\" : 2,\n    \"y\" : 1\n  }\n}";
    }
    void layout()
    {
        QFETCH(QString, input);
        QFETCH(Indent, indent);
        QFETCH(SortMode, sort);
        QFETCH(QString, expected);
        QCOMPARE(pretty(input, sort, indent), expected);
        const Outputs o = outputs(input, indent, sort);
        QCOMPARE(o.formatted, expected);
        QVERIFY(o.validation.isValid);
        QVERIFY(!o.formatted.endsWith(u'\n'));
    }

    void minified_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<SortMode>("sort");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no blanks") << "{ \"a\" : [ 1 , 2 ] }" << SortMode::none << "{\"a\":[1,2]}";
        QTest::newRow("sorted") << "{\"b\":{\"d\":1,\"c\":2},\"a\":[]}" << SortMode::ascending
                                << "{\"a\":[],\"b\":{\"c\":2,\"d\":1}}";
        QTest::newRow("string keeps inner blanks") << "[ \"a b\" ]" << SortMode::none << "[\"a b\"]";
    }
    void minified()
    {
        QFETCH(QString, input);
        QFETCH(SortMode, sort);
        QFETCH(QString, expected);
        QCOMPARE(mini(input, sort), expected);
        QCOMPARE(outputs(input, Indent::spaces(4), sort).minified, expected);
    }

    // tests/formats/json-printer/<case>/input.json beside the text expected in each layout, one
    // file a layout (indent-2, indent-4, tab, minified, ascending and descending with two spaces),
    // each ending in one line feed that is not part of the text.
    void printerCases_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("expected");
        const QDir root(qEnvironmentVariable("QUORRIX_SOURCE_DIR") + QStringLiteral("/tests/formats/json-printer"));
        const QStringList cases = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
        if (cases.isEmpty())
            QFAIL("printer cases not found");
        auto read = [](const QString& path) {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        for (const QString& name : cases) {
            const QDir dir(root.filePath(name));
            const QString input = read(dir.filePath(QStringLiteral("input.json")));
            for (const QString& file : dir.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
                if (file == QStringLiteral("input.json"))
                    continue;
                QString expected = read(dir.filePath(file));
                if (expected.endsWith(u'\n'))
                    expected.chop(1);
                QTest::addRow("%s/%s", qPrintable(name), qPrintable(file)) << input << file.chopped(5) << expected;
            }
        }
    }
    void printerCases()
    {
        QFETCH(QString, input);
        QFETCH(QString, layout);
        QFETCH(QString, expected);
        const QMap<QString, std::pair<std::optional<Indent>, SortMode>> layouts{
            {QStringLiteral("indent-2"), {Indent::spaces(2), SortMode::none}},
            {QStringLiteral("indent-4"), {Indent::spaces(4), SortMode::none}},
            {QStringLiteral("tab"), {Indent::tabs(), SortMode::none}},
            {QStringLiteral("minified"), {std::nullopt, SortMode::none}},
            {QStringLiteral("ascending"), {Indent::spaces(2), SortMode::ascending}},
            {QStringLiteral("descending"), {Indent::spaces(2), SortMode::descending}},
        };
        QVERIFY2(layouts.contains(layout), qPrintable(QStringLiteral("unknown layout ") + layout));
        const auto [indent, sort] = layouts.value(layout);
        const FormatResult direct = indent ? format(input, *indent, sort) : minify(input, sort);
        QVERIFY(direct.ok());
        QCOMPARE(direct.text, expected);
        const Outputs both = outputs(input, indent.value_or(Indent::spaces(2)), sort);
        QCOMPARE(indent ? both.formatted : both.minified, expected);
    }

    void strings_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("escape, solidus, line separator")
            << QString::fromUtf8("\"\\u001B/\\/\xE2\x80\xA8\"") << QString::fromUtf8("\"\\u001b//\xE2\x80\xA8\"");
        QTest::newRow("short escapes") << "\"\\b\\f\\n\\r\\t\\\"\\\\\"" << "\"\\b\\f\\n\\r\\t\\\"\\\\\"";
        QTest::newRow("unicode escapes decoded") << "\"\\u0041\\u00e9\\u007f\"" << QString::fromUtf8("\"A\xC3\xA9\x7F\"");
        QTest::newRow("control escapes lower-case hex") << "\"\\u0000\\u001F\"" << "\"\\u0000\\u001f\"";
        QTest::newRow("escaped pair becomes the character")
            << "\"\\uD83D\\uDE00\"" << QString::fromUtf8("\"\xF0\x9F\x98\x80\"");
        QTest::newRow("escaped lone surrogate stays escaped") << "\"a\\uD800b\"" << "\"a\\ud800b\"";
        QTest::newRow("raw non-ASCII unchanged") << QString::fromUtf8("\"\xC3\xA9\xF0\x9F\x98\x80\"")
                                                 << QString::fromUtf8("\"\xC3\xA9\xF0\x9F\x98\x80\"");
        QTest::newRow("keys are escaped too") << "{\"a\\tb\":1}" << "{\n  \"a\\tb\" : 1\n}";
        // Plain stretches between escapes are copied whole; surrogates keep their rules there.
        QTest::newRow("escaped high surrogate before a raw pair")
            << QString::fromUtf8("\"\\ud83d\xF0\x9F\x98\x80x\"") << QString::fromUtf8("\"\\ud83d\xF0\x9F\x98\x80x\"");
        QTest::newRow("escaped high surrogate before plain text") << "\"\\ud83dxy\\/\"" << "\"\\ud83dxy/\"";
        QTest::newRow("escaped low surrogate alone") << "\"a\\uDE00b\\ud83d\"" << "\"a\\ude00b\\ud83d\"";
        QTest::newRow("raw pair between escapes")
            << QString::fromUtf8("\"\\n\xF0\x9F\x98\x80\\u00e9\xF0\x9F\x98\x80\\\"\"")
            << QString::fromUtf8("\"\\n\xF0\x9F\x98\x80\xC3\xA9\xF0\x9F\x98\x80\\\"\"");
    }
    void strings()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(pretty(input), expected);
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const QString forty = QStringLiteral("1234567890123456789012345678901234567890");
        QTest::newRow("small integer") << "[12]" << "[12]";
        QTest::newRow("negative zero integer") << "-0" << "-0";
        QTest::newRow("negative zero integer in array") << "[-0,0,-0.0]" << "[-0,0,-0.0]";
        QTest::newRow("64-bit limits") << "[9223372036854775807,-9223372036854775808,18446744073709551615]"
                                       << "[9223372036854775807,-9223372036854775808,18446744073709551615]";
        QTest::newRow("40-digit integer kept") << "[" + forty + "]" << "[" + forty + "]";
        QTest::newRow("40-digit integer alone") << forty << forty;
        QTest::newRow("40-digit negative in object") << "{\"n\":-" + forty + "}" << "{\"n\":-" + forty + "}";
        QTest::newRow("38 digits") << "12345678901234567890123456789012345678" << "12345678901234567890123456789012345678";
        QTest::newRow("fraction") << "[1.5,-0.25,3.14159]" << "[1.5,-0.25,3.14159]";
        QTest::newRow("whole double keeps .0") << "[1.0,1E2,2.50,1e0]" << "[1.0,100.0,2.5,1.0]";
        QTest::newRow("small magnitudes use an exponent") << "[0.00001,1.5e-7,0.0001]" << "[1e-05,1.5e-07,0.0001]";
        QTest::newRow("large magnitudes use an exponent") << "[1e16,1.5e300]" << "[1e+16,1.5e+300]";
        QTest::newRow("double round trip") << "[0.1,0.30000000000000004]" << "[0.1,0.30000000000000004]";
        QTest::newRow("long fraction keeps its digits")
            << "[0.1000000000000000000000000000000000000001]" << "[0.1000000000000000000000000000000000000001]";
        QTest::newRow("twenty digits with a fraction") << "[1.2345678901234567891]" << "[1.2345678901234567891]";
        QTest::newRow("one with forty zeros reads as one")
            << "[1.0000000000000000000000000000000000000000]" << "[1.0]";
        QTest::newRow("39 zeros is zero") << "[0.000000000000000000000000000000000000000]" << "[0.0]";
        QTest::newRow("huge exponent kept") << "[1e400,-2.5E+999]" << "[1e400,-2.5E+999]";
        QTest::newRow("underflow kept") << "[1e-400]" << "[1e-400]";
        QTest::newRow("exponent 90 that fits") << "[1e90,1E-90]" << "[1e+90,1e-90]";
        QTest::newRow("zero exponent spellings") << "[0e5,-0.0]" << "[0.0,-0.0]";
        QTest::newRow("exponent with leading zeros") << "[1e0090]" << "[1e+90]";
        QTest::newRow("digits in strings untouched") << "{\"1234567890123456789012345678901234567890\":\"1e400\"}"
                                                     << "{\"1234567890123456789012345678901234567890\":\"1e400\"}";
        QTest::newRow("private-use text does not matter")
            << QString::fromUtf8("[\"\xEE\x80\x80\\uE001\"," ) + forty + "]"
            << QString::fromUtf8("[\"\xEE\x80\x80\xEE\x80\x81\",") + forty + "]";
    }
    void numbers()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(mini(input), expected);
        // The pretty text carries the same literals.
        const QString p = pretty(input);
        QCOMPARE(mini(p), expected);
    }

    void validation_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("hasError");
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("bytes");
        QTest::newRow("empty") << "" << false << false << -1 << qint64(0);
        QTest::newRow("blank, line feed, tab") << " \n\t" << false << false << -1 << qint64(3);
        QTest::newRow("array of three") << "[1,2,3]" << true << false << 3 << qint64(7);
        QTest::newRow("object of two") << "{\"a\":1,\"b\":2}" << true << false << 2 << qint64(13);
        QTest::newRow("empty object") << "{}" << true << false << 0 << qint64(2);
        QTest::newRow("string") << "\"x\"" << true << false << -1 << qint64(3);
        QTest::newRow("accented letter counts bytes") << QString::fromUtf8("\"\xC3\xA9\"") << true << false << -1
                                                      << qint64(4);
        QTest::newRow("invalid") << "{\"a\":}" << false << true << -1 << qint64(6);
        QTest::newRow("blanks count in size") << "  1  " << true << false << -1 << qint64(5);
    }
    void validation()
    {
        QFETCH(QString, input);
        QFETCH(bool, valid);
        QFETCH(bool, hasError);
        QFETCH(int, count);
        QFETCH(qint64, bytes);
        for (const Validation& v : {verdictOf(input)}) {
            QCOMPARE(v.isValid, valid);
            QCOMPARE(v.error.has_value(), hasError);
            QCOMPARE(v.failure.has_value(), hasError);
            QCOMPARE(v.topLevelKeyCount.has_value(), count >= 0);
            if (count >= 0)
                QCOMPARE(*v.topLevelKeyCount, count);
            QCOMPARE(v.byteSize, bytes);
        }
        const Outputs o = outputs(input, Indent::spaces(2), SortMode::ascending);
        QCOMPARE(o.formatted.isEmpty(), !valid);
        QCOMPARE(o.minified.isEmpty(), !valid);
    }

    void malformed_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        QTest::newRow("empty") << "" << "Unexpected end of text at line 1, column 1; expected a value." << 1 << 1;
        QTest::newRow("missing value") << "{\"a\":}" << "Unexpected “}” at line 1, column 6; expected a value." << 1 << 6;
        QTest::newRow("missing comma") << "[1\n 2]" << "Unexpected “2” at line 2, column 2; expected “,” or “]”." << 2 << 2;
        QTest::newRow("unquoted key") << "{a:1}" << "Unexpected “a” at line 1, column 2; expected a quoted key." << 1 << 2;
        QTest::newRow("missing colon") << "{\"a\" 1}" << "Unexpected “1” at line 1, column 6; expected “:” after the key."
                                       << 1 << 6;
        QTest::newRow("object not closed") << "{\"a\":1" << "Unexpected end of text at line 1, column 7; expected “,” or “}”."
                                           << 1 << 7;
        QTest::newRow("trailing comma") << "[1,]"
                                        << "Unexpected “]” at line 1, column 4 after a comma; expected a value (a trailing "
                                           "comma is not allowed)."
                                        << 1 << 4;
        QTest::newRow("text after value") << "1 2" << "Unexpected “2” at line 1, column 3 after the end of the JSON value."
                                          << 1 << 3;
        QTest::newRow("unterminated string") << "\r\n[\"abc"
                                             << "Unterminated string starting at line 2, column 2; the closing quotation "
                                                "mark is missing."
                                             << 2 << 2;
        QTest::newRow("line feed in string")
            << "[\"a\nb\"]"
            << "Unescaped control character U+000A in a string at line 1, column 4; write it as an escape such as \\n or "
               "\\u000A."
            << 1 << 4;
        QTest::newRow("NUL outside strings") << QString("[1,") + QChar(0) + "]"
                                             << "Unexpected character U+0000 at line 1, column 4; expected a value." << 1 << 4;
        QTest::newRow("bad escape") << "\"\\x\""
                                    << "Invalid escape “\\x” in a string at line 1, column 2; allowed are \\\", \\\\, \\/, "
                                       "\\b, \\f, \\n, \\r, \\t and \\u with four hexadecimal digits."
                                    << 1 << 2;
        QTest::newRow("short unicode escape") << "\"\\u12\""
                                              << "Invalid escape at line 1, column 2; \\u must be followed by four "
                                                 "hexadecimal digits."
                                              << 1 << 2;
        QTest::newRow("leading zero") << "[01]" << "Invalid number at line 1, column 2; a number cannot start with a leading zero."
                                      << 1 << 2;
        QTest::newRow("lone minus") << "-" << "Invalid number at line 1, column 1; a minus sign must be followed by a digit."
                                    << 1 << 1;
        QTest::newRow("bare point") << "1." << "Invalid number at line 1, column 1; the decimal point must be followed by a digit."
                                    << 1 << 1;
        QTest::newRow("empty exponent") << "1e+" << "Invalid number at line 1, column 1; the exponent must have at least one digit."
                                        << 1 << 1;
        QTest::newRow("bad word") << "[tru]" << "Invalid word at line 1, column 2; expected true, false or null." << 1 << 2;
        QTest::newRow("capital word") << "True"
                                      << "Invalid word at line 1, column 1; expected a value such as true, false, null, a "
                                         "number, a quoted string, an object or an array."
                                      << 1 << 1;
        QTest::newRow("CR alone ends a line") << "[1,\r\r2,]"
                                              << "Unexpected “]” at line 3, column 3 after a comma; expected a value (a "
                                                 "trailing comma is not allowed)."
                                              << 3 << 3;
        QTest::newRow("lone surrogate")
            << QString("[\"a") + QChar(0xD800) + "\"]"
            << "Could not encode as UTF-8." << 1 << 4;
        QTest::newRow("lone low surrogate outside strings")
            << QString("{}") + QChar(0xDC00) << "Could not encode as UTF-8."
            << 1 << 3;
        QTest::newRow("too deep") << QString(maxDepth + 1, u'[')
                                  << "The JSON nests deeper than 512 levels at line 1, column 513." << 1 << 513;
        QTest::newRow("single quotes") << "['a']" << "Unexpected “'” at line 1, column 2; expected a value." << 1 << 2;
    }
    void malformed()
    {
        QFETCH(QString, input);
        QFETCH(QString, message);
        QFETCH(int, line);
        QFETCH(int, column);
        const QString before = input;
        const FormatResult r = format(input, Indent::spaces(2), SortMode::ascending);
        QVERIFY(!r.ok());
        QCOMPARE(r.error->message, message);
        QCOMPARE(r.error->line, line);
        QCOMPARE(r.error->column, column);
        QVERIFY(r.text.isEmpty());
        QCOMPARE(input, before);
        const Validation v = verdictOf(input);
        if (!input.isEmpty()) {
            QCOMPARE(v.error.value_or(QString()), message);
            QCOMPARE(v.failure->line, line);
        }
        QCOMPARE(minify(input).error->message, message);
    }

    // A large document's text is what joining its records, printed one by one, gives: bare or
    // inside an envelope, in every layout, read whole or (with line breaks) in parts.
    void largeDocumentsPrintAsTheirRecords_data()
    {
        QTest::addColumn<bool>("envelope");
        QTest::addColumn<int>("layout"); // 0 two spaces, 1 tabs, 2 minified
        QTest::addColumn<QString>("separator"); // between records in the source
        for (int layout = 0; layout < 3; ++layout) {
            QTest::addRow("bare array, layout %d", layout) << false << layout << QStringLiteral(",");
            QTest::addRow("array in an envelope, layout %d", layout) << true << layout << QStringLiteral(",");
            // Line breaks let a large text be read in parts.
            QTest::addRow("bare array on lines, layout %d", layout) << false << layout << QStringLiteral(",\n");
            QTest::addRow("array in an envelope on lines, layout %d", layout) << true << layout << QStringLiteral("\n, ");
        }
    }
    void largeDocumentsPrintAsTheirRecords()
    {
        QFETCH(bool, envelope);
        QFETCH(int, layout);
        QFETCH(QString, separator);
        const Indent indent = layout == 1 ? Indent::tabs() : Indent::spaces(2);
        auto print = [&](const QString& text) {
            const FormatResult r = layout == 2 ? minify(text) : format(text, indent, SortMode::none);
            return r.text;
        };
        QStringList records;
        // Some megabytes in all: smaller texts are read and printed whole.
        const QString pad(300, u'p');
        for (int i = 0; i < 12000; ++i)
            records << QStringLiteral("{\"id\": %1, \"name\": \"n\\u00e9 %1\", \"v\": [%1.50, -0, 1e5, null], \"o\": {}, \"p\": \"%2\"}").arg(i).arg(pad);
        const QString array = u'[' + records.join(separator) + u']';
        const QString doc = envelope ? QStringLiteral("{\"meta\": {\"n\": 1}, \"items\": ") + array + u'}' : array;

        // The same records printed one by one (each small enough for one writer), then joined.
        const QString unit = layout == 2 ? QString() : indent.unit();
        const int depth = envelope ? 2 : 1;
        QStringList printed;
        for (const QString& record : std::as_const(records)) {
            QString one = print(record);
            one.replace(u'\n', u'\n' + unit.repeated(depth));
            printed << unit.repeated(depth) + one;
        }
        QString expected = layout == 2 ? u'[' + printed.join(u',') + u']'
                                       : QStringLiteral("[\n") + printed.join(QStringLiteral(",\n")) + u'\n' + unit.repeated(depth - 1) + u']';
        if (envelope) {
            expected = layout == 2 ? QStringLiteral("{\"meta\":{\"n\":1},\"items\":") + expected + u'}'
                                   : QStringLiteral("{\n%1\"meta\" : {\n%1%1\"n\" : 1\n%1},\n%1\"items\" : ").arg(unit) + expected
                                         + QStringLiteral("\n}");
        }
        const QString actual = print(doc);
        QCOMPARE(actual.size(), expected.size());
        QVERIFY(actual == expected);
        const Outputs both = outputs(doc, indent, SortMode::none);
        QVERIFY(both.validation.isValid);
        QVERIFY((layout == 2 ? both.minified : both.formatted) == expected);
    }

    // A large text with line breaks is read in parts; a fault anywhere in it, near a cut or
    // across one, is found and worded as in a text read whole.
    void faultsInLargeDocuments_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("message");
        QStringList records;
        // Some megabytes in all: smaller texts are read whole.
        const QString pad(700, u'p');
        for (int i = 0; i < 6000; ++i)
            records << QStringLiteral("  {\"id\": %1, \"t\": \"caf\u00e9 \\\"%1\\\"\", \"v\": [%1.50, 1e5, true, null], \"o\": {\"a\": [{}]}, \"p\": \"%2\"}").arg(i).arg(pad);
        auto doc = [&](const QStringList& r) { return QStringLiteral("[\n") + r.join(QStringLiteral(",\n")) + QStringLiteral("\n]\n"); };
        auto at = [](int line, int column) { return QStringLiteral("line %1, column %2").arg(line).arg(column); };
        const int late = 5000; // record index; its line is late + 2

        QTest::newRow("valid") << doc(records) << QString();
        QStringList r = records;
        r[late] = r[late].left(24) + u'\n' + r[late].mid(24);
        QTest::newRow("line break inside a string")
            << doc(r) << QStringLiteral("Unescaped control character U+000A in a string at %1; write it as an escape such as \\n or \\u000A.").arg(at(late + 2, 25));
        QString text = doc(records);
        text.replace(QStringLiteral(",\n  {\"id\": 3000,"), QStringLiteral(" \n  {\"id\": 3000,"));
        QTest::newRow("missing comma between records")
            << text << QStringLiteral("Unexpected “{” at %1; expected “,” or “]”.").arg(at(3002, 3));
        r = records;
        r[late] += u']';
        QTest::newRow("array closed early")
            << doc(r) << QStringLiteral("Unexpected “,” at %1 after the end of the JSON value.").arg(at(late + 2, records[late].size() + 2));
        r = records;
        r[late] = r[late].replace(QStringLiteral("{}"), QStringLiteral("{]"));
        QTest::newRow("wrong closing bracket")
            << doc(r) << QStringLiteral("Unexpected “]” at %1; expected a quoted key.").arg(at(late + 2, records[late].indexOf(QStringLiteral("{}")) + 2));
        text = doc(records);
        text.insert(text.size() - 3, u',');
        QTest::newRow("trailing comma") << text
            << QStringLiteral("Unexpected “]” at %1 after a comma; expected a value (a trailing comma is not allowed).").arg(at(6002, 1));
        r = records;
        r.insert(late, QString(maxDepth + 5, u'[') + QString(maxDepth + 5, u']'));
        QTest::newRow("too deep in the middle")
            << doc(r) << QStringLiteral("The JSON nests deeper than %1 levels at %2.").arg(maxDepth).arg(at(late + 2, maxDepth));
        r = records;
        r.insert(late, QString(maxDepth - 1, u'[') + QString(maxDepth - 1, u']'));
        QTest::newRow("deep but within the cap") << doc(r) << QString();
        r = records;
        r.insert(late, QStringLiteral("[\n") + QString(maxDepth - 2, u'[') + QStringLiteral("\n") + QString(maxDepth - 1, u']'));
        QTest::newRow("deep over two lines, within the cap") << doc(r) << QString();
        r = records;
        r.insert(late, QStringLiteral("[\n") + QString(maxDepth - 1, u'[') + QStringLiteral("\n") + QString(maxDepth, u']'));
        QTest::newRow("deep over two lines, past the cap")
            << doc(r) << QStringLiteral("The JSON nests deeper than %1 levels at %2.").arg(maxDepth).arg(at(late + 3, maxDepth - 1));
        r = records;
        r[late] += QStringLiteral(",\n  \"x") + QChar(0xD800) + QStringLiteral("\"");
        r[10] += QStringLiteral(",, 1");
        QTest::newRow("lone surrogate after an earlier fault")
            << doc(r) << QStringLiteral("Could not encode as UTF-8.");
        r = records;
        r[late] = QStringLiteral("  \"key\": 1");
        QTest::newRow("member outside an object")
            << doc(r) << QStringLiteral("Unexpected “:” at %1; expected “,” or “]”.").arg(at(late + 2, 8));
        text = doc(records);
        text.replace(0, 1, u'{');
        QTest::newRow("array closed as an object")
            << text << QStringLiteral("Unexpected “{” at %1; expected a quoted key.").arg(at(2, 3));
    }
    void faultsInLargeDocuments()
    {
        QFETCH(QString, input);
        QFETCH(QString, message);
        const FormatResult r = format(input, Indent::spaces(2), SortMode::none);
        if (message.isEmpty()) {
            QVERIFY(r.ok());
            QCOMPARE(minify(r.text).text, minify(input).text);
            QCOMPARE(verdictOf(input).topLevelKeyCount, verdictOf(r.text).topLevelKeyCount);
            return;
        }
        QVERIFY(!r.ok());
        QCOMPARE(r.error->message.left(message.size()), message);
        QCOMPARE(*r.error, *verdictOf(input).failure);
    }

    // Strings are scanned several units at a time; a special unit must be seen wherever it falls.
    void specialUnitAtEveryPositionOfALongString()
    {
        for (int at = 0; at < 40; ++at) {
            const QString head = QString(at, u'a');
            const QString tail = QString(40 - at, u'b');
            for (const QString& kept : {QStringLiteral("\\t"), QStringLiteral("\\u00e9x\\\\"),
                                        QString::fromUtf8("\xF0\x9F\x98\x80"), QString::fromUtf8("\xC3\xA9")}) {
                const QString input = u'"' + head + kept + tail + u'"';
                const QString expected = kept.startsWith(QStringLiteral("\\u00e9"))
                                             ? u'"' + head + QString::fromUtf8("\xC3\xA9x\\\\") + tail + u'"'
                                             : input;
                QCOMPARE(mini(input), expected);
                QCOMPARE(verdictOf(input).byteSize, qint64(input.toUtf8().size()));
            }
            const QString control = u'"' + head + QChar(0x01) + tail + u'"';
            QCOMPARE(format(control, Indent::spaces(2), SortMode::none).error->column, at + 2);
            const QString lone = u'"' + head + QChar(0xDC00) + tail + u'"';
            QCOMPARE(format(lone, Indent::spaces(2), SortMode::none).error->column, at + 2);
            const QString quote = u'"' + head + u'"' + tail + u'"';
            QCOMPARE(format(quote, Indent::spaces(2), SortMode::none).error->column, at + 3);
        }
    }

    void deepNestingWithinTheCap()
    {
        const QString deep = QString(maxDepth, u'[') + QString(maxDepth, u']');
        QVERIFY(verdictOf(deep).isValid);
        const QString m = mini(deep);
        QCOMPARE(m, deep);
        QVERIFY(pretty(deep).count(u'\n') > maxDepth);
    }

    void formatEqualsOutputs_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("mixed") << "{\"b\":[1,2.50,{\"c\":null}],\"a\":\"x\\ny\",\"n\":-1e400}";
        QTest::newRow("array") << "[[],{},[[1]],\"\\u00e9\"]";
    }
    void formatEqualsOutputs()
    {
        QFETCH(QString, input);
        for (SortMode sort : allSortModes)
            for (Indent indent : {Indent::spaces(2), Indent::spaces(4), Indent::tabs()}) {
                const Outputs o = outputs(input, indent, sort);
                QCOMPARE(format(input, indent, sort).text, o.formatted);
                QCOMPARE(minify(input, sort).text, o.minified);
                // What we print reads back and prints the same again.
                QCOMPARE(format(o.formatted, indent, sort).text, o.formatted);
                QCOMPARE(minify(o.formatted, sort).text, o.minified);
            }
    }

    void indentEquality()
    {
        QVERIFY(Indent::tabs() == Indent::tabs());
        QVERIFY(Indent::spaces(2) == Indent::spaces(2));
        QVERIFY(!(Indent::spaces(2) == Indent::spaces(4)));
        QVERIFY(!(Indent::spaces(1) == Indent::tabs()));
        QCOMPARE(qHash(Indent::spaces(4)), qHash(Indent::spaces(4)));
    }

    void cancelledRunStops()
    {
        QString big = QStringLiteral("[");
        for (int i = 0; i < 200000; ++i)
            big += QStringLiteral("{\"a\":[1,2,3]},");
        big += QStringLiteral("0]");
        std::atomic_bool cancelled{true};
        const Outputs o = outputs(big, Indent::spaces(2), SortMode::none, &cancelled);
        QVERIFY(o.formatted.isEmpty());
        std::atomic_bool running{false};
        QVERIFY(!outputs(big, Indent::spaces(2), SortMode::none, &running).formatted.isEmpty());
    }

    // The texts printed one after the other are the texts printed side by side, and the one on
    // show is handed over first, with the verdict.
    void outputsInTurn_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("prettyFirst");
        QTest::addColumn<bool>("handed");
        QTest::newRow("pretty first") << QStringLiteral("{\"b\": [1, -0, 2.50], \"a\": \"\u00e9\"}") << true << true;
        QTest::newRow("minified first") << QStringLiteral("[ {\"k\" : null} , true ]") << false << true;
        QTest::newRow("not valid: nothing handed") << QStringLiteral("{\"a\": [1,}") << true << false;
        QTest::newRow("blank: nothing handed") << QStringLiteral(" \n\t") << false << false;
    }
    void outputsInTurn()
    {
        QFETCH(QString, text);
        QFETCH(bool, prettyFirst);
        QFETCH(bool, handed);
        const Outputs together = outputs(text, Indent::spaces(4), SortMode::ascending);
        QStringList events;
        QString first;
        const Outputs inTurn = outputs(text, Indent::spaces(4), SortMode::ascending, nullptr, prettyFirst,
                                       [&](const Validation& validation, const QString& output) {
                                           QVERIFY(validation.isValid);
                                           first = output;
                                           events << QStringLiteral("first");
                                       });
        QCOMPARE(inTurn, together);
        QCOMPARE(events.size(), handed ? 1 : 0);
        if (handed)
            QCOMPARE(first, prettyFirst ? together.formatted : together.minified);
    }
};

QUORRIX_TEST_MAIN(JSONFormatterTest)
#include "JSONFormatterTest.moc"
