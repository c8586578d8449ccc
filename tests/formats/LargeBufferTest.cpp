#include "formats/LargeBuffer.h"

#include "support/QuorrixTestMain.h"

#include <QtTest>

#include <vector>

// Buffers for large outputs behave as any string, byte array or vector of their size, whatever
// memory they stand on, through every later change.
class LargeBufferTest : public QObject {
    Q_OBJECT

private slots:
    void strings_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::newRow("empty") << qsizetype(0);
        QTest::newRow("small") << qsizetype(100);
        QTest::newRow("just below a quarter of a megabyte") << qsizetype((1 << 17) - 1);
        QTest::newRow("a quarter of a megabyte") << qsizetype(1 << 17);
        QTest::newRow("a megabyte") << qsizetype(1 << 19);
        QTest::newRow("just below a huge page") << qsizetype((1 << 20) - 1);
        QTest::newRow("a huge page exactly") << qsizetype(1 << 20);
        QTest::newRow("several huge pages and a bit") << qsizetype((5 << 20) + 3);
    }
    void strings()
    {
        QFETCH(qsizetype, size);
        QString text = LargeBuffer::uninitializedString(size);
        QCOMPARE(text.size(), size);
        // Only data from a huge-page boundary on can lie wholly on huge pages.
        if (size >= (1 << 19))
            QCOMPARE(reinterpret_cast<quintptr>(text.constData()) % (quintptr(2) << 20), quintptr(0));
        QVERIFY(text.capacity() >= size);
        char16_t* units = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < size; ++i)
            units[i] = char16_t(u'a' + i % 26);
        QCOMPARE(text.utf16()[size], u'\0');
        const QString copy = text;
        text.append(QStringLiteral("tail"));
        QCOMPARE(copy.size(), size);
        QCOMPARE(text.size(), size + 4);
        QVERIFY(text.endsWith(QStringLiteral("tail")));
        QVERIFY(text.startsWith(copy));
        QString grown = copy;
        grown.prepend(u'<');
        grown.append(QString(size + 10, u'z'));
        QCOMPARE(grown.size(), 1 + size + size + 10);
        QCOMPARE(QStringView(grown).sliced(1, size), QStringView(copy));
        text.resize(size / 2);
        QCOMPARE(text, copy.left(size / 2));
        text.squeeze();
        QCOMPARE(text, copy.left(size / 2));
        QString moved = std::move(text);
        moved.insert(0, QStringLiteral("head"));
        QCOMPARE(moved.size(), size / 2 + 4);
        QCOMPARE(moved.mid(4), copy.left(size / 2));
    }

    void byteArrays_data() { strings_data(); }
    void byteArrays()
    {
        QFETCH(qsizetype, size);
        QByteArray bytes = LargeBuffer::uninitializedBytes(size * 2);
        QCOMPARE(bytes.size(), size * 2);
        if (size >= (1 << 19))
            QCOMPARE(reinterpret_cast<quintptr>(bytes.constData()) % (quintptr(2) << 20), quintptr(0));
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes.data()[i] = char('a' + i % 26);
        QCOMPARE(bytes.constData()[bytes.size()], '\0');
        const QByteArray copy = bytes;
        bytes.append("tail");
        bytes.prepend("head");
        QCOMPARE(bytes.size(), size * 2 + 8);
        QCOMPARE(bytes.mid(4, size * 2), copy);
        bytes.truncate(3);
        bytes.squeeze();
        QCOMPARE(bytes, QByteArray("hea"));
    }

    void vectors_data() { strings_data(); }
    void vectors()
    {
        QFETCH(qsizetype, size);
        std::vector<quint64, LargeBuffer::Allocator<quint64>> values;
        values.reserve(size_t(size));
        for (qsizetype i = 0; i < size; ++i)
            values.push_back(quint64(i) * 3);
        for (int i = 0; i < 1000; ++i)
            values.push_back(7); // past the reservation
        QCOMPARE(qsizetype(values.size()), size + 1000);
        for (qsizetype i = 0; i < size; i += 997)
            QCOMPARE(values[size_t(i)], quint64(i) * 3);
        QCOMPARE(values.back(), quint64(7));
    }
};

QUORRIX_TEST_MAIN(LargeBufferTest)
#include "LargeBufferTest.moc"
