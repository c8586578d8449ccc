#pragma once

// A test main that keeps the user's settings out of reach: settings and standard paths point
// into a temporary folder, and web views can start headless.

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
        return QTest::qExec(&test, argc, argv);                                                    \
    }
