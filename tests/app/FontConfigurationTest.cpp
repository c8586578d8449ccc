#include "app/FontConfiguration.h"
#include "support/QuorrixTestMain.h"

#include <fontconfig/fontconfig.h>

namespace {
// The file fontconfig picks for `family` under `config` (null: the current one).
QByteArray match(FcConfig* config, const char* family)
{
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family));
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(config, pattern, &result);
    FcChar8* file = nullptr;
    QByteArray path;
    if (found && FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch)
        path = reinterpret_cast<const char*>(file);
    if (found)
        FcPatternDestroy(found);
    FcPatternDestroy(pattern);
    return path;
}

int fontCount(FcConfig* config)
{
    FcPattern* pattern = FcPatternCreate();
    FcObjectSet* objects = FcObjectSetBuild(FC_FILE, nullptr);
    FcFontSet* fonts = FcFontList(config, pattern, objects);
    const int count = fonts ? fonts->nfont : -1;
    if (fonts)
        FcFontSetDestroy(fonts);
    FcObjectSetDestroy(objects);
    FcPatternDestroy(pattern);
    return count;
}
} // namespace

// Runs before anything of the test's own reads fonts (no font is measured before the first test).
class FontConfigurationTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        FontConfiguration::load();
        m_own = FcConfigGetCurrent();
        m_standard = FcInitLoadConfigAndFonts();
        QVERIFY(m_own);
        QVERIFY(m_standard);
    }
    void cleanupTestCase() { FcConfigDestroy(m_standard); }

    void sameFontsAsFontconfigsOwnStart() { QCOMPARE(fontCount(m_own), fontCount(m_standard)); }

    void sameMatchesAsFontconfigsOwnStart_data()
    {
        QTest::addColumn<QByteArray>("family");
        QTest::newRow("the desktop's sans") << QByteArray("sans-serif");
        QTest::newRow("monospace") << QByteArray("monospace");
        QTest::newRow("serif") << QByteArray("serif");
        QTest::newRow("a family no one has, bold") << QByteArray("No Such Family:bold");
        QTest::newRow("Helvetica, an alias") << QByteArray("Helvetica");
    }
    void sameMatchesAsFontconfigsOwnStart()
    {
        QFETCH(QByteArray, family);
        QCOMPARE(match(m_own, family.constData()), match(m_standard, family.constData()));
    }

    void loadingAgainKeepsItWorking()
    {
        FontConfiguration::load();
        QVERIFY(fontCount(nullptr) > 0);
        QCOMPARE(match(nullptr, "sans-serif"), match(m_standard, "sans-serif"));
    }

private:
    FcConfig* m_own = nullptr;
    FcConfig* m_standard = nullptr;
};

QUORRIX_TEST_MAIN(FontConfigurationTest)
#include "FontConfigurationTest.moc"
