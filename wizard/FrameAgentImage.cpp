// SPDX-License-Identifier: GPL-3.0-or-later
#include "wizard/FrameAgentImage.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace rp {

namespace {
const QColor kNight(18, 38, 74);
const QColor kDusk(34, 110, 140);
const QColor kPaper(246, 244, 236);
const QColor kAccent(240, 170, 50);

void DrawBackground(QPainter& painter, const QRect& area) {
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0.0, kNight);
    sky.setColorAt(1.0, kDusk);
    painter.fillRect(area, sky);
}

void DrawCalendar(QPainter& painter, const QRect& sheet) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(kPaper);
    painter.drawRoundedRect(sheet, 4, 4);
    painter.setBrush(QColor(190, 50, 50));
    painter.drawRect(QRect(sheet.left(), sheet.top(), sheet.width(), 12));
    painter.setPen(QColor(120, 120, 120));
    const int cell = (sheet.width() - 12) / 5;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 5; ++column)
            painter.drawRect(sheet.left() + 6 + column * cell, sheet.top() + 18 + row * 12,
                             cell - 3, 8);
    painter.fillRect(QRect(sheet.left() + 6 + 2 * cell, sheet.top() + 30, cell - 3, 8), kAccent);
}

void DrawPhone(QPainter& painter, const QRect& body) {
    painter.setPen(QPen(QColor(200, 210, 220), 2));
    painter.setBrush(QColor(40, 44, 52));
    painter.drawRoundedRect(body, 10, 10);
    const QRect screen = body.adjusted(8, 18, -8, -52);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(170, 220, 190));
    painter.drawRect(screen);
    // A small envelope on the screen: the notice arriving.
    const QRect letter(screen.center().x() - 14, screen.center().y() - 9, 28, 18);
    painter.setPen(QPen(kNight, 1.5));
    painter.setBrush(kPaper);
    painter.drawRect(letter);
    painter.drawLine(letter.topLeft(), letter.center());
    painter.drawLine(letter.topRight(), letter.center());
    painter.setPen(QColor(110, 116, 126));
    painter.setBrush(QColor(90, 96, 106));
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            painter.drawEllipse(body.left() + 12 + column * 14, body.bottom() - 44 + row * 12, 8,
                                7);
}

void DrawSignal(QPainter& painter, QPoint source) {
    painter.setBrush(Qt::NoBrush);
    for (int ring = 1; ring <= 3; ++ring) {
        painter.setPen(QPen(kAccent, 2.5));
        const int radius = ring * 11;
        painter.drawArc(QRect(source.x() - radius, source.y() - radius, 2 * radius, 2 * radius),
                        20 * 16, 60 * 16);
    }
}

void DrawPath(QPainter& painter, QPoint from, QPoint to) {
    QPainterPath path(from);
    path.cubicTo(from + QPoint(40, 0), to + QPoint(-40, 40), to);
    painter.setPen(QPen(QColor(255, 255, 255, 150), 1.5, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

void DrawName(QPainter& painter, const QRect& area) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(kPaper);
    painter.drawText(area, Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Ringpost"));
}
} // namespace

QImage DrawSidePicture() {
    QImage picture(kSidePictureSize, QImage::Format_RGB888);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawBackground(painter, picture.rect());
    DrawName(painter, QRect(0, 18, kSidePictureSize.width(), 30));
    const QRect phone(58, 70, 60, 124);
    DrawSignal(painter, QPoint(phone.right() - 6, phone.top() + 4));
    DrawPhone(painter, phone);
    const QRect calendar(16, 262, 84, 60);
    DrawPath(painter, QPoint(calendar.right(), calendar.top() + 20),
             QPoint(phone.center().x(), phone.bottom() + 6));
    DrawCalendar(painter, calendar);
    return picture;
}

TImageFrame::TImageFrame(QWidget* parent) : QWidget(parent), image(DrawSidePicture()) {}

void TImageFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image);
}

} // namespace rp
