#include "Artwork.h"

#include <QApplication>
#include <QFont>
#include <QImageReader>
#include <QPainter>

namespace {

// A PNG of the resources. Named as PNG and not guessed: guessing would load
// every image plugin to ask it.
QPixmap Png(const QString& name) {
    QImageReader reader(QStringLiteral(":/tarvo/") + name, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImageReader(&reader);
}

} // namespace

QPixmap BannerPixmap(QSize size) {
    const bool sharp = qApp->devicePixelRatio() > 1.0;
    QPixmap banner = Png(sharp ? QStringLiteral("banner@2x.png") : QStringLiteral("banner.png"));
    banner.setDevicePixelRatio(sharp ? 2.0 : 1.0);
    if (banner.isNull() || banner.deviceIndependentSize().toSize() == size)
        return banner;
    // Another size: scaled in proportion and centred on a clear ground.
    const qreal ratio = banner.devicePixelRatio();
    const QPixmap scaled =
        banner.scaled(size * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPixmap fitted(size * ratio);
    fitted.setDevicePixelRatio(ratio);
    fitted.fill(Qt::transparent);
    QPainter painter(&fitted);
    const QSizeF drawn = scaled.deviceIndependentSize();
    painter.drawPixmap(
        QPointF((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2), scaled);
    return fitted;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Png(QStringLiteral("tarvo-%1.png").arg(side)));
    return icon;
}

void InstallFontSubstitutes() {
    const QStringList sans{"Noto Sans CJK SC", "WenQuanYi Micro Hei", "DejaVu Sans"};
    const QStringList serif{"Noto Serif CJK SC", "Noto Sans CJK SC", "WenQuanYi Micro Hei",
                            "DejaVu Serif"};
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), sans);
    QFont::insertSubstitutions(QString::fromUtf8(u8"微软雅黑"), sans);
    QFont::insertSubstitutions(QString::fromUtf8(u8"宋体"), serif);
}
