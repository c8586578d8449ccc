#include "formats/JSONNumberText.h"

#include "support/QuorrixTestMain.h"

#include <QRandomGenerator>
#include <QtTest>

#include <charconv>
#include <cmath>
#include <cstdio>

// How literals with a fraction or an exponent print: fixed rows, and random literals beside a
// plain reading of the rule (the double's shortest text from the standard library, its digits
// compared with the literal's as text).
class JSONNumberTextTest : public QObject {
    Q_OBJECT

    static QString printed(const QString& literal)
    {
        char out[40];
        qsizetype mark = literal.indexOf(u'e', 0, Qt::CaseInsensitive);
        if (mark < 0)
            mark = literal.size();
        const qsizetype point = literal.left(mark).contains(u'.') ? literal.indexOf(u'.') : mark;
        const QByteArray ascii = literal.toLatin1();
        const int n = JSONNumberText::respelling(std::string_view(ascii.constData(), size_t(ascii.size())), point, mark, out);
        return n < 0 ? literal : QString::fromLatin1(out, n);
    }

    // Sign, significant digits and the power of ten of the last one, from the text.
    struct Normal {
        bool negative = false;
        QString digits;
        qint64 power = 0;
        friend bool operator==(const Normal&, const Normal&) = default;
    };
    static Normal normal(QString text)
    {
        Normal n;
        if (text.startsWith(u'-')) {
            n.negative = true;
            text.remove(0, 1);
        }
        qint64 exponent = 0;
        const qsizetype e = text.indexOf(u'e', 0, Qt::CaseInsensitive);
        if (e >= 0) {
            exponent = text.mid(e + 1).toLongLong();
            text.truncate(e);
        }
        const qsizetype point = text.indexOf(u'.');
        if (point >= 0) {
            exponent -= text.size() - point - 1;
            text.remove(point, 1);
        }
        while (text.startsWith(u'0'))
            text.remove(0, 1);
        while (text.endsWith(u'0')) {
            text.chop(1);
            ++exponent;
        }
        n.digits = text;
        n.power = text.isEmpty() ? 0 : exponent;
        return n;
    }

    // The rule read plainly.
    static QString expected(const QString& literal)
    {
        if (literal.size() > 4096)
            return literal;
        const QByteArray bytes = literal.toLatin1();
        double value = 0;
        std::from_chars(bytes.constData(), bytes.constData() + bytes.size(), value);
        const Normal typed = normal(literal);
        QString text;
        if (typed.digits.isEmpty()) {
            text = typed.negative ? QStringLiteral("-0.0") : QStringLiteral("0.0");
        } else {
            if (!std::isfinite(value) || value == 0)
                return literal;
            char buf[64];
            const auto shortest = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
            if (normal(QString::fromLatin1(buf, shortest.ptr - buf)) != typed)
                return literal;
            const double magnitude = std::fabs(value);
            if (magnitude >= 1e-4 && magnitude < 1e16) {
                const auto fixed = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
                text = QString::fromLatin1(buf, fixed.ptr - buf);
                if (!text.contains(u'.'))
                    text += QStringLiteral(".0");
            } else {
                text = QString::fromLatin1(buf, shortest.ptr - buf);
            }
        }
        return text;
    }

private slots:
    void rows_data()
    {
        QTest::addColumn<QString>("literal");
        QTest::addColumn<QString>("printed");
        QTest::newRow("canonical fraction kept") << "1.5" << "1.5";
        QTest::newRow("trailing zero dropped") << "2.50" << "2.5";
        QTest::newRow("whole value keeps .0") << "1E2" << "100.0";
        QTest::newRow("exponent zero") << "1e0" << "1.0";
        QTest::newRow("small takes an exponent") << "0.00001" << "1e-05";
        QTest::newRow("1e-4 stays fixed") << "1e-4" << "0.0001";
        QTest::newRow("below 1e16 stays fixed") << "9.999e15" << "9999000000000000.0";
        QTest::newRow("1e16 takes an exponent") << "1e16" << "1e+16";
        QTest::newRow("exponent with leading zeros") << "1e0090" << "1e+90";
        QTest::newRow("zero with an exponent") << "0e5" << "0.0";
        QTest::newRow("negative zero") << "-0.000" << "-0.0";
        QTest::newRow("seventeen digits that are the shortest") << "0.30000000000000004" << "0.30000000000000004";
        QTest::newRow("seventeen digits, shortest, respelled") << "30000000000000004e-17" << "0.30000000000000004";
        QTest::newRow("seventeen digits with a shorter reading kept") << "-65.613616999999977" << "-65.613616999999977";
        QTest::newRow("sixteen digits that are the shortest") << "43.42027300000001" << "43.42027300000001";
        QTest::newRow("sixteen digits, trailing zero") << "43.420273000000010" << "43.42027300000001";
        QTest::newRow("eighteen digits kept") << "1.23456789012345678" << "1.23456789012345678";
        QTest::newRow("overflow kept") << "1e400" << "1e400";
        QTest::newRow("underflow kept") << "1e-400" << "1e-400";
        QTest::newRow("subnormal") << "5e-324" << "5e-324";
        QTest::newRow("largest double") << "1.7976931348623157e308" << "1.7976931348623157e+308";
        QTest::newRow("fifteen digits near the top") << "1.23456789012345e307" << "1.23456789012345e+307";
        QTest::newRow("power of two") << "9007199254740992.0" << "9007199254740992.0";
        QTest::newRow("power of two, respelled") << "9.007199254740992e15" << "9007199254740992.0";
        QTest::newRow("zero spelled so") << "0.0" << "0.0";
        QTest::newRow("negative zero spelled so") << "-0.0" << "-0.0";
        QTest::newRow("zero with a long fraction") << "0.000" << "0.0";
        QTest::newRow("whole number with an exponent") << "100e-2" << "1.0";
        QTest::newRow("digits with zeros inside") << "100.5" << "100.5";
        QTest::newRow("seventeen digits, whole, no double of them") << "12345678901234567.0" << "12345678901234567.0";
        QTest::newRow("seventeen digits, whole, a double") << "12345678901234568.0" << "1.2345678901234568e+16";
        QTest::newRow("over 4096 units kept") << "1." + QString(4100, u'0') << "1." + QString(4100, u'0');
    }
    void rows()
    {
        QFETCH(QString, literal);
        QFETCH(QString, printed);
        QCOMPARE(this->printed(literal), printed);
        QCOMPARE(this->printed(literal), expected(literal));
    }

    // Texts of random doubles at every precision and spelling, and random digit strings.
    void randomLiterals_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("doubles at 1 to 17 digits") << 0;
        QTest::newRow("doubles respelled with zeros and exponents") << 1;
        QTest::newRow("random digit strings") << 2;
        QTest::newRow("doubles of every magnitude") << 3;
    }
    void randomLiterals()
    {
        QFETCH(int, kind);
        QRandomGenerator rng(quint32(kind) + 7);
        char buf[64];
        for (int round = 0; round < 60000; ++round) {
            QString literal;
            if (kind == 0 || kind == 3) {
                const double value = kind == 0 ? (rng.generateDouble() - 0.5) * std::pow(10.0, rng.bounded(7))
                                               : std::bit_cast<double>(rng.generate64());
                if (!std::isfinite(value))
                    continue;
                const int precision = 1 + rng.bounded(17);
                std::snprintf(buf, sizeof buf, rng.bounded(2) ? "%.*e" : "%.*g", precision, value);
                literal = QString::fromLatin1(buf);
                if (!literal.contains(u'.') && !literal.contains(u'e'))
                    literal += QStringLiteral(".0");
            } else if (kind == 1) {
                const double value = (rng.generateDouble() - 0.5) * std::pow(10.0, int(rng.bounded(40)) - 20);
                const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
                Normal n = normal(QString::fromLatin1(buf, r.ptr - buf));
                if (n.digits.isEmpty())
                    continue;
                const int zeros = rng.bounded(3);
                const QString digits = n.digits + QString(zeros, u'0');
                const qint64 length = digits.size();
                // The point after j digits, or before them behind "0." and a few zeros.
                const qint64 j = rng.bounded(int(length) + 1);
                QString mantissa;
                qint64 fraction;
                if (j == 0) {
                    const int lead = rng.bounded(4);
                    mantissa = QStringLiteral("0.") + QString(lead, u'0') + digits;
                    fraction = lead + length;
                } else if (j < length) {
                    mantissa = digits.left(j) + u'.' + digits.mid(j);
                    fraction = length - j;
                } else {
                    mantissa = digits + QStringLiteral(".0");
                    fraction = 0;
                }
                const qint64 exponent = n.power - zeros + fraction;
                literal = (n.negative ? QStringLiteral("-") : QString()) + mantissa;
                if (exponent != 0 || rng.bounded(2))
                    literal += (rng.bounded(2) ? QStringLiteral("e") : QStringLiteral("E")) + QString::number(exponent);
            } else {
                const int count = 1 + rng.bounded(22);
                for (int i = 0; i < count; ++i)
                    literal += QChar(u'0' + rng.bounded(10));
                while (literal.size() > 1 && literal.startsWith(u'0'))
                    literal.remove(0, 1);
                const int point = rng.bounded(count + 1);
                if (point < literal.size())
                    literal.insert(point == 0 ? 0 : point, point == 0 ? QStringLiteral("0.") : QStringLiteral("."));
                if (!literal.contains(u'.') || rng.bounded(2))
                    literal += u'e' + QString::number(int(rng.bounded(80)) - 40);
                if (rng.bounded(2))
                    literal.prepend(u'-');
            }
            QCOMPARE(printed(literal), expected(literal));
            if (QTest::currentTestFailed())
                QFAIL(qPrintable(literal));
        }
    }
};

QUORRIX_TEST_MAIN(JSONNumberTextTest)
#include "JSONNumberTextTest.moc"
