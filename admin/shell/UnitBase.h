// The base of every agent window: the session pair and the keyboard
// navigation of the edit boxes.
#pragma once

#include <QDialog>
#include <initializer_list>
#include <string>

class QLineEdit;

class TFormBase : public QDialog {
    Q_OBJECT

public:
    explicit TFormBase(QWidget* parent = nullptr);

    std::string FUserName; // the agent's account, as typed at login
    std::string FGUID;     // the session identifier, 36 characters when valid

    // Enter or Down: focus to the next tab stop (wrapping); Up: to the
    // previous one; Esc: close the window; other keys: nothing.
    void HandleNavKey(QWidget* sender, int key, Qt::KeyboardModifiers shift);
    // Focus to the edit box with all of its text selected.
    void FocusEdit(QLineEdit* edit);
    // Runs once, when the window is first shown, before it is laid out and
    // put on screen.
    virtual void FormShow() {}
    void setVisible(bool visible) override;

protected:
    // Routes the key-down events of `controls` to HandleNavKey.
    void BindNavKeys(std::initializer_list<QWidget*> controls);
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Centres the window on the screen, or on `over` when given.
    void CentreOn(const QWidget* over = nullptr);

private:
    bool FShown = false;
};
