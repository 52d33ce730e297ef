#include "ui/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Every icon is drawn on a 24-unit square and scaled to the pixmap.
constexpr qreal kGrid = 24;

const QColor kBlue(0x2f, 0x6d, 0xb5);
const QColor kGreen(0x2e, 0x9d, 0x48);
const QColor kRed(0xd6, 0x3a, 0x2f);
const QColor kSlate(0x4a, 0x55, 0x63);

void DrawTriangle(QPainter& painter)
{
    QPainterPath path;
    path.moveTo(7, 4.5);
    path.lineTo(20, 12);
    path.lineTo(7, 19.5);
    path.closeSubpath();
    painter.setPen(QPen(kGreen.darker(130), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kGreen);
    painter.drawPath(path);
}

void DrawSquare(QPainter& painter)
{
    painter.setPen(QPen(kSlate.darker(130), 1.2));
    painter.setBrush(kSlate);
    painter.drawRoundedRect(QRectF(5.5, 5.5, 13, 13), 2, 2);
}

void DrawDot(QPainter& painter)
{
    painter.setPen(QPen(kRed.darker(140), 1.2));
    painter.setBrush(kRed);
    painter.drawEllipse(QPointF(12, 12), 7, 7);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.drawEllipse(QPointF(9.8, 9.5), 2.4, 2.4);
}

// A channel list: rows with a tick box each.
void DrawList(QPainter& painter)
{
    for (int row = 0; row < 3; ++row) {
        const qreal y = 5 + row * 6;
        painter.setPen(QPen(kBlue, 1.2));
        painter.setBrush(row == 1 ? Qt::white : kBlue);
        painter.drawRect(QRectF(3.5, y, 4, 4));
        painter.setPen(QPen(kSlate, 2, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(10.5, y + 2), QPointF(20.5, y + 2));
    }
}

void DrawBars(QPainter& painter)
{
    painter.setPen(QPen(kSlate, 1.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(3.5, 20.5), QPointF(20.5, 20.5));
    const qreal heights[] = {6, 11, 15};
    for (int bar = 0; bar < 3; ++bar) {
        painter.setPen(QPen(kBlue.darker(130), 1));
        painter.setBrush(bar == 2 ? kGreen : kBlue);
        painter.drawRect(QRectF(5 + bar * 5.5, 19.5 - heights[bar], 4, heights[bar]));
    }
}

void DrawQuestion(QPainter& painter)
{
    painter.setPen(QPen(kBlue.darker(130), 1.2));
    painter.setBrush(kBlue);
    painter.drawEllipse(QPointF(12, 12), 9, 9);
    QFont font("Sans Serif");
    font.setBold(true);
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, kGrid, kGrid), Qt::AlignCenter, "?");
}

// A small television with its aerial.
void DrawTelevision(QPainter& painter)
{
    painter.setPen(QPen(kSlate, 1.4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(12, 7), QPointF(8, 2.5));
    painter.drawLine(QPointF(12, 7), QPointF(16, 2.5));
    painter.setBrush(kSlate);
    painter.drawRoundedRect(QRectF(2.5, 7, 19, 14), 2.5, 2.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kBlue.lighter(120));
    painter.drawRoundedRect(QRectF(4.5, 9, 15, 10), 1.5, 1.5);
    painter.setBrush(QColor(255, 255, 255, 110));
    painter.drawEllipse(QPointF(8, 11.5), 2, 1.2);
}

QPixmap Draw(ProgramIcon which, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / kGrid, size / kGrid);
    switch (which) {
    case ProgramIcon::Program: DrawTelevision(painter); break;
    case ProgramIcon::Start: DrawTriangle(painter); break;
    case ProgramIcon::Stop: DrawSquare(painter); break;
    case ProgramIcon::Record: DrawDot(painter); break;
    case ProgramIcon::Lineup: DrawList(painter); break;
    case ProgramIcon::Statistics: DrawBars(painter); break;
    case ProgramIcon::Help: DrawQuestion(painter); break;
    }
    return pixmap;
}

} // namespace

QIcon PaintedIcon(ProgramIcon which)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64})
        icon.addPixmap(Draw(which, size));
    return icon;
}
