#include "UnitBase.h"

#include "CodePage.h"
#include "QtGbk.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>

TFormBase::TFormBase(QWidget* parent) : QDialog(parent) {
    setWindowTitle(ToQ(Gbk(u8"Quorvi管理系统")));
    QPalette look = palette();
    look.setColor(QPalette::Window, QColor(240, 248, 253));
    setPalette(look);
    setAutoFillBackground(true);
    setFont(QFont("Tahoma", 8));
}

void TFormBase::HandleNavKey(QWidget* /*sender*/, int key, Qt::KeyboardModifiers /*shift*/) {
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Down:
        focusNextChild();
        break;
    case Qt::Key_Up:
        focusPreviousChild();
        break;
    case Qt::Key_Escape:
        close();
        break;
    default:
        break;
    }
}

void TFormBase::setVisible(bool visible) {
    // Before the show itself: what FormShow hides or fills in is laid out
    // once, and the main window's layout and fonts wait until its login ends.
    if (visible && !FShown && !isVisible()) {
        FShown = true;
        FormShow();
    }
    QDialog::setVisible(visible);
}

void TFormBase::FocusEdit(QLineEdit* edit) {
    edit->setFocus(Qt::OtherFocusReason);
    edit->selectAll();
}

void TFormBase::BindNavKeys(std::initializer_list<QWidget*> controls) {
    for (QWidget* control : controls)
        control->installEventFilter(this);
}

bool TFormBase::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QDialog::eventFilter(watched, event);
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    const int key = keyEvent->key();
    HandleNavKey(qobject_cast<QWidget*>(watched), key, keyEvent->modifiers());
    // The keys acted on end here: passed on, Enter would also press the
    // dialog's default button and Esc would close the dialog a second time.
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Down ||
           key == Qt::Key_Up || key == Qt::Key_Escape;
}

void TFormBase::CentreOn(const QWidget* over) {
    QRect area;
    if (over != nullptr && over->isVisible())
        area = over->frameGeometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    else
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}
