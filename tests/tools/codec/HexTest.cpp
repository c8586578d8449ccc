#include "support/QuorrixTestMain.h"
#include "formats/Encodings.h"
#include "tools/codec/Codec.h"

#include <QProcess>
#include <QRandomGenerator>

namespace {

QString describe(QStringView text)
{
    Encodings::HexFault fault;
    const auto bytes = Encodings::hexDecode(text, &fault);
    if (bytes)
        return QString::fromLatin1(bytes->toHex());
    return fault == Encodings::HexFault::notHex ? QStringLiteral("notHex") : QStringLiteral("oddHexLength");
}

} // namespace

class HexTest : public QObject {
    Q_OBJECT
private slots:
    void encode()
    {
        QCOMPARE(Encodings::hexEncode(QByteArray::fromHex("00abff")), QByteArray("00abff"));
        QCOMPARE(Encodings::hexEncode(QByteArray()), QByteArray());
        QByteArray all(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            all[i] = char(i);
        QCOMPARE(Encodings::hexEncode(all), all.toHex());
    }

    void decode_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        for (const char* form : {"DE:AD:BE:EF", "de-ad-be-ef", "0xde 0xad 0xbe 0xef", "\\xde\\xad\\xbe\\xef", "de,ad,be,ef",
                                 "de ad\nbe ef", "0XDE0XAD0XBE0XEF", "\\XDE\\XAD\\XBE\\XEF", "deadbeef"})
            QTest::newRow(form) << QString::fromLatin1(form) << "deadbeef";
        QTest::newRow("pairs across separators") << "d e a d" << "dead";
        QTest::newRow("inner 0x removed") << "0a0x0b" << "0a0b";
        QTest::newRow("0x formed by removal is kept") << "00xx" << "notHex";
        QTest::newRow("backslash x formed by removal") << "\\0xx41" << "41";
        QTest::newRow("odd") << "abc" << "oddHexLength";
        QTest::newRow("letters") << "zz" << "notHex";
        QTest::newRow("bad after separators") << "12 3g" << "notHex";
        QTest::newRow("bad and odd says notHex") << "123g" << "notHex";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("only separators") << "  :: " << "";
        QTest::newRow("unicode blanks") << QString::fromUtf8("de\xC2\xA0" "ad\xE3\x80\x80") << "dead";
        QTest::newRow("non-ascii digit") << QString::fromUtf8("\xEF\xBC\x91\xEF\xBC\x92") << "notHex";
        QTest::newRow("lone backslash") << "\\de" << "notHex";
        QTest::newRow("semicolon") << "de;ad" << "notHex";
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) << "notHex";
    }
    void decode()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(describe(input), expected);
    }

    void dumpText_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("limit");
        QTest::addColumn<int>("perRow");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Hello at 16") << QByteArray("Hello") << qsizetype(65536) << 16
                                     << "00000000  48 65 6c 6c 6f" + QString(34, u' ') + "  |Hello|";
        QTest::newRow("17 bytes at 16") << QByteArray("0123456789abcdefg") << qsizetype(65536) << 16
                                        << "00000000  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  |0123456789abcdef|\n"
                                           "00000010  67" + QString(46, u' ') + "  |g|";
        QTest::newRow("20 bytes at 8") << QByteArray("ABCDEFGHIJKLMNOPQRST") << qsizetype(65536) << 8
                                       << "00000000  41 42 43 44 45 46 47 48  |ABCDEFGH|\n"
                                          "00000008  49 4a 4b 4c 4d 4e 4f 50  |IJKLMNOP|\n"
                                          "00000010  51 52 53 54" + QString(12, u' ') + "  |QRST|";
        QTest::newRow("6 bytes at 4") << QByteArray("\x1f\x7f\x80 ab", 6) << qsizetype(65536) << 4
                                      << "00000000  1f 7f 80 20  |... |\n"
                                         "00000004  61 62" + QString(6, u' ') + "  |ab|";
        QTest::newRow("nothing") << QByteArray() << qsizetype(65536) << 16 << "";
        QTest::newRow("only the more line") << QByteArray("abc") << qsizetype(0) << 16
                                            << QString::fromUtf8("\xE2\x80\xA6 3 more bytes");
        QTest::newRow("cut at two") << QByteArray("abcd") << qsizetype(2) << 4
                                    << QString::fromUtf8("00000000  61 62        |ab|\n\xE2\x80\xA6 2 more bytes");
    }
    void dumpText()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, limit);
        QFETCH(int, perRow);
        QFETCH(QString, expected);
        QCOMPARE(Codec::hexDumpText(perRow, Codec::HexDump(bytes, limit)), expected);
    }

    void rowLengths()
    {
        const QByteArray bytes(64, 'x');
        for (int n : {4, 8, 16}) {
            const QString text = Codec::hexDumpText(n, Codec::HexDump(bytes, 65536));
            const int expected = 4 * n + (n + 7) / 8 + 12;
            for (const QString& line : text.split(u'\n'))
                QCOMPARE(line.size(), expected);
        }
    }

    void bigDumpIsCut()
    {
        const QByteArray bytes(70000, 'q');
        const Codec::HexDump dump(bytes, 65536);
        QCOMPARE(dump.bytes.size(), 65536);
        QCOMPARE(dump.count, 70000);
        const QStringList lines = Codec::hexDumpText(16, dump).split(u'\n');
        QCOMPARE(lines.size(), 4097);
        QCOMPARE(lines.last(), QString::fromUtf8("\xE2\x80\xA6 4464 more bytes"));
        QVERIFY(lines[4095].startsWith(QStringLiteral("0000fff0  ")));
    }

    void matchesHexdumpCanonical()
    {
        // Against the system's `hexdump -C -v` (every row written out), without its final offset line.
        QRandomGenerator random(1987);
        for (int size : {1, 7, 8, 15, 16, 17, 31, 32, 33, 100, 1000, 4099}) {
            QByteArray bytes(size, Qt::Uninitialized);
            for (auto& b : bytes)
                b = char(random.bounded(256));
            QProcess hexdump;
            hexdump.start(QStringLiteral("hexdump"), {QStringLiteral("-C"), QStringLiteral("-v")});
            if (!hexdump.waitForStarted())
                QSKIP("hexdump is not installed");
            hexdump.write(bytes);
            hexdump.closeWriteChannel();
            QVERIFY(hexdump.waitForFinished());
            QStringList lines = QString::fromLatin1(hexdump.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
            lines.removeLast();
            QCOMPARE(Codec::hexDumpText(16, Codec::HexDump(bytes, 65536)), lines.join(u'\n'));
        }
    }

    void bytesPerRow_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("expected");
        QTest::newRow("0") << 0 << 4;
        QTest::newRow("44") << 44 << 4;
        QTest::newRow("45") << 45 << 8;
        QTest::newRow("77") << 77 << 8;
        QTest::newRow("78") << 78 << 16;
        QTest::newRow("200") << 200 << 16;
    }
    void bytesPerRow()
    {
        QFETCH(int, columns);
        QFETCH(int, expected);
        QCOMPARE(Codec::bytesPerRow(columns), expected);
    }

    void randomRoundTrip()
    {
        QRandomGenerator random(4);
        const char* separators[] = {"", " ", ":", "-", ",", "\n", " 0x", "\\x"};
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes(random.bounded(0, 64), Qt::Uninitialized);
            for (auto& b : bytes)
                b = char(random.bounded(256));
            const char* separator = separators[random.bounded(int(std::size(separators)))];
            QString text = QString::fromLatin1(bytes.toHex(0));
            QString spaced;
            for (qsizetype i = 0; i < text.size(); i += 2)
                spaced += QString::fromLatin1(separator) + text.mid(i, 2);
            if (round % 2)
                spaced = spaced.toUpper();
            QCOMPARE(describe(spaced), QString::fromLatin1(bytes.toHex()));
        }
    }
};

QUORRIX_TEST_MAIN(HexTest)
#include "HexTest.moc"
