#include "kit/ui/EqualWidthRow.h"

#include "support/QuorrixTestMain.h"

#include <QWidget>

namespace {

class Box : public QWidget {
public:
    Box(int w, int h, QWidget* parent = nullptr) : QWidget(parent), m_size(w, h) {}
    QSize sizeHint() const override { return m_size; }

private:
    QSize m_size;
};

} // namespace

// Items of 120 by 30, 200 by 50 and (with three) 80 by 20 laid side by side in equal columns.
class EqualWidthRowTest : public QObject {
    Q_OBJECT

private slots:
    void columns_data()
    {
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("gap");
        QTest::addColumn<bool>("squeezable");
        QTest::addColumn<int>("width");
        QTest::addColumn<QSize>("hint");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QList<QRect>>("frames");
        QTest::newRow("two halves 40 apart, 640 wide")
            << 2 << 40 << false << 640 << QSize(440, 50) << QSize(440, 50)
            << QList<QRect>{QRect(0, 0, 300, 30), QRect(340, 0, 300, 50)};
        QTest::newRow("two halves narrower than the gap: columns of width 0")
            << 2 << 40 << false << 20 << QSize(440, 50) << QSize(440, 50)
            << QList<QRect>{QRect(0, 0, 0, 30), QRect(40, 0, 0, 50)};
        QTest::newRow("three without a gap share an odd width, edges rounded")
            << 3 << 0 << true << 100 << QSize(600, 50) << QSize(0, 50)
            << QList<QRect>{QRect(0, 0, 33, 30), QRect(33, 0, 34, 50), QRect(67, 0, 33, 20)};
        QTest::newRow("three 10 apart, squeezed below their hint")
            << 3 << 10 << true << 320 << QSize(620, 50) << QSize(0, 50)
            << QList<QRect>{QRect(0, 0, 100, 30), QRect(110, 0, 100, 50), QRect(220, 0, 100, 20)};
    }
    void columns()
    {
        QFETCH(int, items);
        QFETCH(int, gap);
        QFETCH(bool, squeezable);
        QFETCH(int, width);
        QFETCH(QSize, hint);
        QFETCH(QSize, minimum);
        QFETCH(QList<QRect>, frames);
        QWidget host;
        auto* row = new EqualWidthRow(&host);
        row->setSpacing(gap);
        row->setSqueezable(squeezable);
        const QList<QSize> sizes{QSize(120, 30), QSize(200, 50), QSize(80, 20)};
        QList<QWidget*> boxes;
        for (int i = 0; i < items; ++i) {
            boxes.append(new Box(sizes[i].width(), sizes[i].height()));
            row->addWidget(boxes.last());
        }
        QCOMPARE(row->sizeHint(), hint);
        QCOMPARE(row->minimumSize(), minimum);
        row->setGeometry(QRect(0, 0, width, 100));
        for (int i = 0; i < items; ++i)
            QCOMPARE(boxes[i]->geometry(), frames[i]);
    }
};

QUORRIX_TEST_MAIN(EqualWidthRowTest)
#include "EqualWidthRowTest.moc"
