#include "support/QuorrixTestMain.h"

#include "tools/mermaid/MermaidExportController.h"
#include "tools/mermaid/MermaidPageProtocol.h"
#include "tools/mermaid/MermaidTemplates.h"
#include "tools/mermaid/MermaidViewportController.h"
#include "tools/mermaid/ui/MermaidPreviewView.h"

#include <QImage>
#include <QSvgRenderer>
#include <QtTest>

using namespace MermaidPageProtocol;

namespace {

struct Harness {
    MermaidViewportController viewport;
    MermaidExportController exporter;
    QList<Outcome> outcomes;
    std::unique_ptr<MermaidPreviewView> view;

    explicit Harness(const QString& source, const QString& theme = QStringLiteral("default"))
    {
        view = std::make_unique<MermaidPreviewView>(source, theme, &viewport, &exporter, FileDrop{});
        QObject::connect(view.get(), &MermaidPreviewView::outcome, [this](const Outcome& o) { outcomes << o; });
        view->resize(800, 600);
        view->show();
    }

    bool waitForOutcomes(int count, int timeoutMs = 60000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (outcomes.size() < count && !deadline.hasExpired())
            QTest::qWait(20);
        return outcomes.size() >= count;
    }
};

} // namespace

class MermaidPreviewTest : public QObject {
    Q_OBJECT
private slots:
    void everyTemplateRenders_data();
    void everyTemplateRenders();
};

void MermaidPreviewTest::everyTemplateRenders_data()
{
    QTest::addColumn<QString>("source");
    for (const auto& t : MermaidTemplates::all())
        QTest::newRow(qPrintable(t.id)) << t.source + QLatin1Char('\n');
}

void MermaidPreviewTest::everyTemplateRenders()
{
    QFETCH(QString, source);
    Harness h(source);
    QVERIFY(h.waitForOutcomes(2));
    QCOMPARE(h.outcomes[0], Outcome(EngineReady{true}));
    if (const auto* failed = std::get_if<Failed>(&h.outcomes[1]))
        QFAIL(qPrintable(failed->message));
    QVERIFY(std::get<Rendered>(h.outcomes[1]).bytes > 500);
}

QUORRIX_TEST_MAIN(MermaidPreviewTest)
#include "MermaidPreviewTest.moc"
