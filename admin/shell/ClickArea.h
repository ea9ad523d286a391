// A label that reports clicks and the mouse entering and leaving it: the
// login dialog's close panel and the list window's update link.
#pragma once

#include <QLabel>
#include <QMouseEvent>

class TClickArea : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();
    void entered();
    void left();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            emit clicked();
        QLabel::mouseReleaseEvent(event);
    }
    void enterEvent(QEnterEvent* event) override {
        emit entered();
        QLabel::enterEvent(event);
    }
    void leaveEvent(QEvent* event) override {
        emit left();
        QLabel::leaveEvent(event);
    }
};
