// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace rp {

namespace {

using TDrawing = std::function<void(QPainter&)>;

const QColor Ink(40, 40, 60);
const QColor Paper(250, 250, 245);
const QColor Alert(200, 30, 30);
const QColor Accent(30, 90, 170);

// Every picture is drawn on a 32 x 32 grid and scaled to the pixmap's size.
QPixmap Render(int size, const TDrawing& draw) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    draw(painter);
    return pixmap;
}

QIcon MakeIcon(const TDrawing& draw) {
    QIcon icon;
    icon.addPixmap(Render(32, draw));
    icon.addPixmap(Render(64, draw));
    return icon;
}

void CalendarPage(QPainter& p, const QColor& band) {
    p.setPen(QPen(Ink, 1.5));
    p.setBrush(Paper);
    p.drawRoundedRect(QRectF(3, 5, 22, 22), 2, 2);
    p.setBrush(band);
    p.drawRect(QRectF(3, 5, 22, 6));
    p.setPen(QPen(Ink, 1));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 4; ++col)
            p.drawRect(QRectF(6 + col * 4.5, 14 + row * 4, 2, 2));
}

void Bell(QPainter& p, QPointF at) {
    p.setPen(QPen(Ink, 1.2));
    p.setBrush(QColor(240, 190, 40));
    QPainterPath bell;
    bell.moveTo(at + QPointF(-6, 6));
    bell.cubicTo(at + QPointF(-4, 4), at + QPointF(-5, -6), at + QPointF(0, -6));
    bell.cubicTo(at + QPointF(5, -6), at + QPointF(4, 4), at + QPointF(6, 6));
    bell.closeSubpath();
    p.drawPath(bell);
    p.drawEllipse(at + QPointF(0, 7.5), 1.6, 1.6);
}

void Sun(QPainter& p, QPointF at, double radius) {
    p.setPen(QPen(QColor(230, 140, 0), 1.6));
    for (int ray = 0; ray < 8; ++ray) {
        p.save();
        p.translate(at);
        p.rotate(ray * 45);
        p.drawLine(QPointF(radius + 1.5, 0), QPointF(radius + 4, 0));
        p.restore();
    }
    p.setBrush(QColor(250, 200, 30));
    p.drawEllipse(at, radius, radius);
}

void Moon(QPainter& p, QPointF at, double radius) {
    QPainterPath disc;
    disc.addEllipse(at, radius, radius);
    QPainterPath bite;
    bite.addEllipse(at + QPointF(radius * 0.55, -radius * 0.35), radius, radius);
    p.setPen(QPen(Ink, 1));
    p.setBrush(QColor(245, 220, 110));
    p.drawPath(disc.subtracted(bite));
}

void Clipboard(QPainter& p) {
    p.setPen(QPen(Ink, 1.5));
    p.setBrush(QColor(200, 160, 110));
    p.drawRoundedRect(QRectF(5, 4, 20, 25), 2, 2);
    p.setBrush(Paper);
    p.drawRect(QRectF(8, 8, 14, 18));
    p.setBrush(QColor(150, 150, 160));
    p.drawRect(QRectF(11, 2, 8, 4));
}

void CheckLines(QPainter& p) {
    p.setPen(QPen(QColor(30, 140, 50), 1.8));
    p.drawPolyline(QPolygonF({QPointF(9.5, 12), QPointF(11, 13.5), QPointF(13.5, 10.5)}));
    p.drawPolyline(QPolygonF({QPointF(9.5, 18), QPointF(11, 19.5), QPointF(13.5, 16.5)}));
    p.setPen(QPen(Ink, 1.2));
    p.drawLine(QPointF(15, 12), QPointF(20, 12));
    p.drawLine(QPointF(15, 18), QPointF(20, 18));
    p.drawLine(QPointF(10, 23), QPointF(20, 23));
}

void Badge(QPainter& p, QPointF at, const QColor& fill, const QString& mark) {
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(fill);
    p.drawEllipse(at, 6.5, 6.5);
    QFont font = p.font();
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRectF(at.x() - 6.5, at.y() - 6.5, 13, 13), Qt::AlignCenter, mark);
}

void Envelope(QPainter& p) {
    p.setPen(QPen(Ink, 1.5));
    p.setBrush(Paper);
    p.drawRect(QRectF(3, 8, 22, 16));
    p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(14, 17), QPointF(25, 8)}));
}

void Phone(QPainter& p, QRectF body) {
    p.setPen(QPen(Ink, 1.4));
    p.setBrush(QColor(60, 70, 90));
    p.drawRoundedRect(body, 2.5, 2.5);
    p.setBrush(QColor(170, 220, 250));
    p.drawRect(body.adjusted(2, 3, -2, -body.height() * 0.45));
    p.setBrush(QColor(200, 200, 210));
    p.setPen(Qt::NoPen);
    const double keysTop = body.bottom() - body.height() * 0.38;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            p.drawRect(QRectF(body.left() + 2.5 + col * (body.width() - 5) / 3, keysTop + row * 2.8,
                              (body.width() - 5) / 3 - 1, 1.8));
}

void RingWaves(QPainter& p, QPointF at) {
    p.setPen(QPen(Accent, 1.6));
    p.setBrush(Qt::NoBrush);
    for (int wave = 1; wave <= 3; ++wave) {
        const double r = wave * 3.5;
        p.drawArc(QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
}

void Meeting(QPainter& p) {
    CalendarPage(p, QColor(70, 130, 200));
    Bell(p, QPointF(24, 20));
}

void Morning(QPainter& p) {
    CalendarPage(p, QColor(70, 130, 200));
    Sun(p, QPointF(24, 22), 4.5);
}

void Evening(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 40, 90));
    p.drawRoundedRect(QRectF(2, 2, 28, 28), 4, 4);
    Moon(p, QPointF(14, 15), 9);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(25, 8), 1.2, 1.2);
    p.drawEllipse(QPointF(24, 22), 1, 1);
}

void Task(QPainter& p) {
    Clipboard(p);
    CheckLines(p);
}

void TaskPre(QPainter& p) {
    CalendarPage(p, QColor(60, 160, 90));
    Badge(p, QPointF(24, 23), Accent, QStringLiteral("1"));
}

void TaskPastDue(QPainter& p) {
    Clipboard(p);
    CheckLines(p);
    Badge(p, QPointF(24, 23), Alert, QStringLiteral("!"));
}

void UrgentEmail(QPainter& p) {
    Envelope(p);
    Badge(p, QPointF(24, 23), Alert, QStringLiteral("!"));
}

void TestMessage(QPainter& p) {
    Phone(p, QRectF(6, 3, 13, 26));
    RingWaves(p, QPointF(19, 12));
}

void Wizard(QPainter& p) {
    p.setPen(QPen(Ink, 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(6, 27), QPointF(20, 13));
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(17, 16), QPointF(20, 13));
    p.setPen(QPen(QColor(240, 180, 20), 1.6, Qt::SolidLine, Qt::RoundCap));
    const QPointF spark(23, 9);
    for (int ray = 0; ray < 4; ++ray) {
        p.save();
        p.translate(spark);
        p.rotate(ray * 90 + 45 * (ray % 2));
        p.drawLine(QPointF(2, 0), QPointF(6, 0));
        p.restore();
    }
}

void Help(QPainter& p) {
    p.setPen(QPen(Ink, 1.2));
    p.setBrush(Accent);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    QFont font = p.font();
    font.setPixelSize(20);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
}

void Upgrade(QPainter& p) {
    p.setPen(QPen(Ink, 1.2));
    p.setBrush(QColor(60, 160, 90));
    p.drawEllipse(QPointF(16, 16), 13, 13);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawPolygon(QPolygonF({QPointF(16, 7), QPointF(24, 16), QPointF(19, 16), QPointF(19, 24),
                             QPointF(13, 24), QPointF(13, 16), QPointF(8, 16)}));
}

void Hide(QPainter& p) {
    p.setPen(QPen(Ink, 1.5));
    p.setBrush(Paper);
    p.drawRect(QRectF(3, 3, 22, 16));
    p.setBrush(QColor(70, 130, 200));
    p.drawRect(QRectF(3, 3, 22, 4));
    p.setBrush(QColor(120, 120, 130));
    p.drawRect(QRectF(2, 25, 28, 5));
    p.setPen(QPen(Accent, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(22, 12), QPointF(26, 23));
    p.drawLine(QPointF(26, 23), QPointF(22, 21));
    p.drawLine(QPointF(26, 23), QPointF(28, 19));
}

void Exit(QPainter& p) {
    p.setPen(QPen(Ink, 1.2));
    p.setBrush(Alert);
    p.drawEllipse(QPointF(16, 16), 13, 13);
    p.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
}

// The program's icon, the same design as the desktop icon: a letter that rings,
// on an amber tile.
void RingingLetter(QPainter& p) {
    const QColor brown(0x4e, 0x2f, 0x03);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xb8, 0x6e, 0x0a));
    p.drawRoundedRect(QRectF(1.75, 2.5, 28.5, 28.5), 5.75, 5.75);
    p.setBrush(QColor(0xf3, 0xa8, 0x2c));
    p.drawRoundedRect(QRectF(1.75, 1.25, 28.5, 28.5), 5.75, 5.75);
    p.setPen(QPen(brown, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(0xff, 0xfa, 0xf0));
    p.drawRoundedRect(QRectF(4.25, 12.5, 19, 13.25), 1.5, 1.5);
    p.drawPolyline(QPolygonF({QPointF(5.25, 13.75), QPointF(13.75, 20), QPointF(22.25, 13.75)}));
    p.setPen(Qt::NoPen);
    p.setBrush(brown);
    const QPointF corner(22.5, 12);
    p.drawEllipse(corner, 1.9, 1.9);
    p.setPen(QPen(brown, 1.5));
    p.setBrush(Qt::NoBrush);
    for (double r : {3.75, 6.5})
        p.drawArc(QRectF(corner.x() - r, corner.y() - r, 2 * r, 2 * r), 0, 90 * 16);
}

TDrawing DrawingFor(int index) {
    switch (index) {
    case ImgMeeting:
        return Meeting;
    case ImgMorning:
        return Morning;
    case ImgEvening:
        return Evening;
    case ImgTask:
        return Task;
    case ImgTaskPre:
        return TaskPre;
    case ImgTaskPastDue:
        return TaskPastDue;
    case ImgUrgentEmail:
        return UrgentEmail;
    case ImgTestMessage:
        return TestMessage;
    case ImgWizard:
        return Wizard;
    case ImgHelp:
        return Help;
    case ImgUpgrade:
        return Upgrade;
    case ImgHide:
        return Hide;
    case ImgExit:
        return Exit;
    default:
        return nullptr;
    }
}

} // namespace

QIcon ListImage(int index) {
    const TDrawing drawing = DrawingFor(index);
    return drawing ? MakeIcon(drawing) : QIcon();
}

QIcon ApplicationIcon() {
    return MakeIcon(RingingLetter);
}

QIcon TroubleIcon() {
    return MakeIcon([](QPainter& p) {
        RingingLetter(p);
        Badge(p, QPointF(24.5, 24.5), Alert, QStringLiteral("!"));
    });
}

} // namespace rp
