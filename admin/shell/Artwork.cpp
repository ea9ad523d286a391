#include "Artwork.h"

#include <QFont>
#include <QPainter>
#include <QSvgRenderer>

namespace {

QPixmap Render(const QString& resource, QSize size) {
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid())
        return pixmap;
    QSizeF picture = renderer.defaultSize();
    picture.scale(size, Qt::KeepAspectRatio);
    const QRectF target((size.width() - picture.width()) / 2,
                        (size.height() - picture.height()) / 2, picture.width(), picture.height());
    QPainter painter(&pixmap);
    renderer.render(&painter, target);
    return pixmap;
}

} // namespace

QPixmap BannerPixmap(QSize size) {
    return Render(QStringLiteral(":/tarvo/banner.svg"), size);
}

QIcon ProgramIcon() {
    // The SVG icon engine draws each size when it is first asked for.
    return QIcon(QStringLiteral(":/tarvo/tarvo.svg"));
}

void InstallFontSubstitutes() {
    const QStringList sans{"Noto Sans CJK SC", "WenQuanYi Micro Hei", "DejaVu Sans"};
    const QStringList serif{"Noto Serif CJK SC", "Noto Sans CJK SC", "WenQuanYi Micro Hei",
                            "DejaVu Serif"};
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), sans);
    QFont::insertSubstitutions(QString::fromUtf8(u8"微软雅黑"), sans);
    QFont::insertSubstitutions(QString::fromUtf8(u8"宋体"), serif);
}
