// Runs the window tests on the offscreen platform: all test classes, or the
// one named by the first argument (further arguments go to QTest).
#include "EditorTest.h"
#include "FailureTest.h"
#include "ListWindowTest.h"

#include <QApplication>
#include <QByteArray>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // The stand-in card reader writes its photos into the temporary folder,
    // and the test servers keep their stores there: one for this run, in
    // memory where the system offers it (the stores sync every commit).
    const QTemporaryDir inMemory(QStringLiteral("/dev/shm/students_test-XXXXXX"));
    const QTemporaryDir onDisk;
    const QTemporaryDir& scratch = inMemory.isValid() ? inMemory : onDisk;
    if (!scratch.isValid())
        return 2;
    qputenv("TMPDIR", scratch.path().toLocal8Bit());

    std::vector<std::unique_ptr<QObject>> suites;
    suites.push_back(std::make_unique<TestStudentList>());
    suites.push_back(std::make_unique<TestStudentEditor>());
    suites.push_back(std::make_unique<TestStudentFailures>());

    QByteArray only;
    QStringList args{QString::fromLocal8Bit(argv[0])};
    for (int i = 1; i < argc; ++i) {
        if (i == 1 && argv[i][0] != '-')
            only = argv[i];
        else
            args << QString::fromLocal8Bit(argv[i]);
    }
    int status = 0;
    bool ran = false;
    for (const auto& suite : suites) {
        if (!only.isEmpty() && only != suite->metaObject()->className())
            continue;
        ran = true;
        status |= QTest::qExec(suite.get(), args);
    }
    if (!ran) {
        std::fprintf(stderr, "no test class named %s\n", only.constData());
        return 2;
    }
    return status;
}
