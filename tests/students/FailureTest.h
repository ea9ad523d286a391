// Bad answers and failures: broken pages and photos from a loopback server,
// refused and unanswered deletes, adds whose server is gone or whose photo
// file vanished.
#pragma once

#include <QObject>

class TestStudentFailures : public QObject {
    Q_OBJECT

private slots:
    void brokenPage_data();
    void brokenPage();
    void deleteRefused_data();
    void deleteRefused();
    void deleteAnsweredNo();
    void photoAnswer_data();
    void photoAnswer();
    void addAnswers_data();
    void addAnswers();
    void changeAnswers_data();
    void changeAnswers();
    void addServerDown();
    void addPhotoVanished();
};
