#include "platform/qt/artwork.h"

#include <QFontDatabase>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace selvatro::platform::qt {

namespace {

// Colours of the old 16-colour palette, in which the pointer is drawn.
const QColor kBlack(0, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kSilver(192, 192, 192);
const QColor kWhite(255, 255, 255);
const QColor kYellow(255, 255, 0);

QImage Canvas(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48}) {
        // Read as PNG outright: a reader left to guess the format loads every image plugin (JPEG, GIF, ...) first,
        // which costs the start-up about 200 KB and a millisecond for nothing.
        QImageReader reader(QStringLiteral(":/icons/selvatro-%1.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

QCursor GoCursor() {
    QImage image = Canvas(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // The sea.
    p.setPen(kBlack);
    p.setBrush(kBlue);
    p.drawEllipse(1, 1, 29, 29);
    // The land: three rough continents, clipped to the globe.
    QPainterPath globe;
    globe.addEllipse(2, 2, 28, 28);
    p.setClipPath(globe);
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    const QPoint west[] = {{3, 6}, {12, 3}, {14, 9}, {10, 14}, {11, 22}, {6, 25}, {3, 16}};
    p.drawPolygon(west, 7);
    const QPoint east[] = {{18, 4}, {27, 7}, {29, 14}, {24, 17}, {19, 13}};
    p.drawPolygon(east, 5);
    const QPoint south[] = {{17, 21}, {25, 20}, {27, 27}, {20, 30}};
    p.drawPolygon(south, 4);
    p.setClipping(false);
    // GO across it, in red capitals with a dark edge so that it reads on sea and land alike.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(15);
    font.setBold(true);
    QPainterPath go;
    go.addText(5, 22, font, QStringLiteral("GO"));
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kBlack, 1));
    p.setBrush(kRed);
    p.drawPath(go);
    p.end();
    return QCursor(QPixmap::fromImage(image), 16, 16);
}

QPixmap Banner() {
    QImage image(300, 40, QImage::Format_RGB32);  // the coordinates below are the banner's own
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient sky(0, 0, image.width(), 0);
    sky.setColorAt(0.0, QColor(10, 30, 90));
    sky.setColorAt(0.6, QColor(30, 90, 160));
    sky.setColorAt(1.0, QColor(150, 200, 230));
    p.fillRect(image.rect(), sky);
    // A low swoosh under the name.
    QPainterPath swoosh;
    swoosh.moveTo(0, 36);
    swoosh.cubicTo(90, 26, 180, 44, 300, 30);
    swoosh.lineTo(300, 40);
    swoosh.lineTo(0, 40);
    swoosh.closeSubpath();
    p.fillPath(swoosh, QColor(220, 170, 40));
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(26);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 3);
    p.setFont(font);
    p.setPen(QColor(0, 0, 0, 120));
    p.drawText(QRect(2, 2, 260, 36), Qt::AlignCenter, QStringLiteral("Tovrel"));
    p.setPen(kWhite);
    p.drawText(QRect(0, 0, 260, 36), Qt::AlignCenter, QStringLiteral("Tovrel"));
    p.setPen(kYellow);
    p.setBrush(kYellow);
    p.drawEllipse(QPoint(24, 18), 7, 7);
    p.setPen(kSilver);
    p.drawEllipse(QPoint(24, 18), 11, 11);
    p.end();
    return QPixmap::fromImage(image);
}

QFont HeadingFont(const platform::WindowDesign& design) {
    const QString family =
        QString::fromUtf8(design.headingFont.data(), static_cast<qsizetype>(design.headingFont.size()));
    QFont font(family);
    if (!QFontDatabase::hasFamily(family)) {
        // Let fontconfig pick its stand-in for the face, among the casual (cursive) ones first.
        font.setStyleHint(QFont::Cursive, QFont::PreferMatch);
    }
    font.setPointSizeF(design.headingPointSize);
    font.setWeight(static_cast<QFont::Weight>(design.headingWeight));
    font.setItalic(false);
    font.setUnderline(false);
    return font;
}

}  // namespace selvatro::platform::qt
