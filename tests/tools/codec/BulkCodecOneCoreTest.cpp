#include "formats/BulkCodec.h"
#include "formats/Utf8Decoder.h"

#include "support/OneCore.h"
#include "support/QuorrixTestMain.h"

#include <QtTest>

#include <functional>

// Pinned to one core, the large conversions run on the calling thread and start no helper.
class BulkCodecOneCoreTest : public QObject {
    Q_OBJECT

    qsizetype m_threads = 0;

private slots:
    void initTestCase()
    {
        OneCore::pin();
        m_threads = OneCore::threadCount();
    }

    void pinnedJobsStartNoThread_data()
    {
        QTest::addColumn<std::function<bool()>>("job");
        const QString text(24 << 20, u'q');
        const QByteArray utf8(24 << 20, 'q');
        QTest::newRow("Base64 encoding of 24 MB") << std::function<bool()>([utf8] {
            return BulkCodec::base64Encode(utf8, false).size() == 32 << 20;
        });
        // One worker, bytes handed over: encoded over themselves, from the end back.
        QTest::newRow("Base64 encoding of 24 MB handed over") << std::function<bool()>([] {
            QByteArray bytes(24 << 20, Qt::Uninitialized);
            for (qsizetype i = 0; i < bytes.size(); ++i)
                bytes[i] = char(i * 7 + i / 251);
            const QByteArray expected = bytes.toBase64();
            return BulkCodec::base64Encode(std::move(bytes), false) == expected;
        });
        QTest::newRow("Base64 decoding of 24 million units") << std::function<bool()>([text] {
            const auto bytes = BulkCodec::base64Decode(text);
            return bytes && bytes->size() == 18 << 20;
        });
        QTest::newRow("Base64 decoding of 24 MB of UTF-8") << std::function<bool()>([utf8] {
            const auto bytes = BulkCodec::base64Decode(QByteArrayView(utf8));
            return bytes && bytes->size() == 18 << 20;
        });
        QTest::newRow("UTF-8 decoding of 24 MB") << std::function<bool()>([] {
            const auto decoded = Utf8Decoder::decode(QByteArray(24 << 20, 'q'));
            return decoded && decoded->size() == 24 << 20;
        });
    }
    void pinnedJobsStartNoThread()
    {
        QFETCH(std::function<bool()>, job);
        QVERIFY(job());
        QCOMPARE(OneCore::threadCount(), m_threads);
    }
};

QUORRIX_TEST_MAIN(BulkCodecOneCoreTest)
#include "BulkCodecOneCoreTest.moc"
