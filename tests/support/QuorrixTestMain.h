#pragma once

// A test main that keeps the user's settings out of reach: settings and standard paths point
// into a temporary folder, and web views can start headless.

#include <QMetaMethod>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QTest>

// Logic tests link no widgets (and often no GUI): the application object is the smallest the
// test's libraries allow.
#if defined(QT_WIDGETS_LIB)
#include <QApplication>
using QuorrixTestApplication = QApplication;
#elif defined(QT_GUI_LIB)
#include <QGuiApplication>
using QuorrixTestApplication = QGuiApplication;
#else
#include <QCoreApplication>
using QuorrixTestApplication = QCoreApplication;
#endif

// With QUORRIX_TEST_SHARD set to "k/n" and no functions named on the command line, the program
// runs every n-th test function from the k-th (from 0), so that a slow program can be split into
// tests that ctest runs side by side.
inline QStringList quorrixTestArguments(const QObject& test, int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const QList<QByteArray> shard = qgetenv("QUORRIX_TEST_SHARD").split('/');
    if (argc > 1 || shard.size() != 2)
        return arguments;
    const int k = shard[0].toInt(), n = shard[1].toInt();
    if (n < 1 || k < 0 || k >= n)
        return arguments;
    const QMetaObject* meta = test.metaObject();
    int index = 0;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        const QByteArray name = method.name();
        if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private
            || method.parameterCount() != 0 || name.endsWith("_data") || name == "initTestCase"
            || name == "cleanupTestCase" || name == "init" || name == "cleanup")
            continue;
        if (index++ % n == k)
            arguments << QString::fromLatin1(name);
    }
    return arguments;
}

#define QUORRIX_TEST_MAIN(TestObject) QUORRIX_TEST_MAIN_WITH_SETUP(TestObject, (void)0)

// `setup` runs before the QApplication exists (URL scheme registration, for example).
#define QUORRIX_TEST_MAIN_WITH_SETUP(TestObject, setup)                                            \
    int main(int argc, char* argv[])                                                               \
    {                                                                                              \
        QTemporaryDir quorrixTestHome;                                                             \
        qputenv("XDG_CONFIG_HOME", quorrixTestHome.filePath(QStringLiteral("config")).toUtf8());   \
        qputenv("XDG_DATA_HOME", quorrixTestHome.filePath(QStringLiteral("data")).toUtf8());       \
        qputenv("XDG_CACHE_HOME", quorrixTestHome.filePath(QStringLiteral("cache")).toUtf8());     \
        QStandardPaths::setTestModeEnabled(true);                                                  \
        setup;                                                                                     \
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);                                \
        QuorrixTestApplication app(argc, argv);                                                              \
        QCoreApplication::setOrganizationName(QStringLiteral("QuorrixTest"));                          \
        QCoreApplication::setApplicationName(QStringLiteral("QuorrixTest"));                          \
        TestObject test;                                                                           \
        return QTest::qExec(&test, quorrixTestArguments(test, argc, argv));                           \
    }
