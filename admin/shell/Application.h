// The application object: an error that escapes an event handler is shown
// in an error box and the program goes on.
#pragma once

#include <QApplication>

class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
