#pragma once

// A test main that keeps the user's settings out of reach: settings and standard paths point
// into a temporary folder, and web views can start headless.

#include <QApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest/QTest>

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
        QApplication app(argc, argv);                                                              \
        QApplication::setOrganizationName(QStringLiteral("QuorrixTest"));                          \
        QApplication::setApplicationName(QStringLiteral("QuorrixTest"));                          \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
