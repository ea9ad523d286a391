// The start-up benchmark's yardstick: a bare Qt dialog with the login
// window's controls (banner picture, title, close area, two labelled edit
// boxes, the button, the copyright line) at the same places, 400 x 295,
// frameless and white. It does nothing else.
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>

namespace {

QPixmap Banner(QSize size) {
    QPixmap pixmap(size);
    QPainter painter(&pixmap);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(31, 94, 168));
    sky.setColorAt(1, QColor(88, 160, 226));
    painter.fillRect(pixmap.rect(), sky);
    return pixmap;
}

QString Text(const char8_t* text) {
    return QString::fromUtf8(text);
}

class TBareLogin : public QDialog {
public:
    TBareLogin() : QDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint) {
        setWindowTitle(Text(u8"Quorvi管理系统"));
        setFixedSize(400, 295);
        setStyleSheet(QStringLiteral("QDialog { background: white; border: 1px solid #9bb4d3; }"));
        ImageTop.setGeometry(1, 1, 398, 80);
        ImageTop.setPixmap(Banner(ImageTop.size()));
        Title.setGeometry(8, 19, 260, 40);
        Title.setStyleSheet(QStringLiteral("color: white; font-size: 29px;"));
        Close.setGeometry(374, 1, 25, 25);
        Close.setCursor(Qt::PointingHandCursor);
        AccountLabel.setGeometry(80, 141, 78, 17);
        Account.setGeometry(158, 140, 140, 19);
        Account.setMaxLength(11);
        PasswordLabel.setGeometry(92, 166, 66, 17);
        Password.setGeometry(158, 165, 140, 19);
        Password.setMaxLength(18);
        Password.setEchoMode(QLineEdit::Password);
        Login.setGeometry(158, 190, 140, 25);
        Copyright.setGeometry(58, 275, 282, 14);
        Copyright.setAlignment(Qt::AlignCenter);
        Copyright.setStyleSheet(QStringLiteral("color: black; font-size: 12px;"));
    }

private:
    QLabel ImageTop{this};
    QLabel Title{Text(u8"Quorvi管理系统"), this};
    QLabel Close{this};
    QLabel AccountLabel{Text(u8"代理商账号："), this};
    QLineEdit Account{this};
    QLabel PasswordLabel{Text(u8"登录密码："), this};
    QLineEdit Password{this};
    QPushButton Login{Text(u8"登录"), this};
    QLabel Copyright{Text(u8"© 2026 Quorvi 驾考速学 版权所有"), this};
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    TBareLogin dialog;
    dialog.show();
    return app.exec();
}
