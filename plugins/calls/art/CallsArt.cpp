// Draws the Calls plug-in's pictures at build time: the nineteen numbered pictures of the key face
// (status and events 48x48, kinds of call 32x32, receivers 16x16), the preview "IDB_CALLS" (96x96)
// and the icon "IDI_CALLS" (16x16 and 32x32). Shapes only, no text, so no font is needed.
// Backgrounds are transparent; the plug-in puts the pictures on the key's black.
//
// Usage: calls_art OUTPUT_DIR   (writes NUMBER.png, IDB_CALLS.png, IDI_CALLS_16.png, IDI_CALLS_32.png)

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>
#include <QTransform>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

const QColor kGreen(0x2e, 0xc4, 0x4a);
const QColor kGreenDark(0x16, 0x7a, 0x2b);
const QColor kGrey(0x8a, 0x8f, 0x98);
const QColor kGreyDark(0x50, 0x54, 0x5c);
const QColor kRed(0xe8, 0x3a, 0x30);
const QColor kBlue(0x3d, 0x8b, 0xff);
const QColor kYellow(0xff, 0xc8, 0x2e);
const QColor kWhite(Qt::white);

using Drawing = std::function<void(QPainter &)>;

// Paints `drawing` in a 48-unit square scaled to `size` pixels.
QImage picture(int size, qreal units, const Drawing &drawing)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / units, size / units);
    drawing(p);
    p.end();
    return image;
}

// A round badge with a soft light from the top left.
void disc(QPainter &p, QPointF centre, qreal radius, const QColor &light, const QColor &dark)
{
    QRadialGradient gradient(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.4);
    gradient.setColorAt(0, light);
    gradient.setColorAt(1, dark);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(centre, radius, radius);
}

void check(QPainter &p, QPointF centre, qreal size, qreal stroke, const QColor &colour)
{
    QPainterPath path;
    path.moveTo(centre + QPointF(-size * 0.5, 0));
    path.lineTo(centre + QPointF(-size * 0.15, size * 0.35));
    path.lineTo(centre + QPointF(size * 0.55, -size * 0.4));
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
}

void cross(QPainter &p, QPointF centre, qreal arm, qreal stroke, const QColor &colour)
{
    p.setPen(QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(-arm, -arm), centre + QPointF(arm, arm));
    p.drawLine(centre + QPointF(-arm, arm), centre + QPointF(arm, -arm));
}

// The status badge: a disc with a check, and room at the bottom right for a small sign.
void statusBase(QPainter &p, const QColor &light, const QColor &dark)
{
    disc(p, QPointF(22, 22), 19, light, dark);
    check(p, QPointF(21, 23), 20, 5, kWhite);
}

// A small round sign at the bottom right of a status badge, on a black ring.
void sign(QPainter &p, const QColor &colour)
{
    p.setPen(QPen(Qt::black, 2));
    p.setBrush(colour);
    p.drawEllipse(QPointF(37, 37), 10, 10);
}

// A telephone receiver lying across, in a 32-unit square.
QPainterPath receiverPath()
{
    QPainterPath path;
    path.moveTo(3, 20);
    path.cubicTo(3, 10, 29, 10, 29, 20);
    path.lineTo(29, 24);
    path.quadTo(29, 26, 27, 26);
    path.lineTo(22, 26);
    path.quadTo(20, 26, 20, 24);
    path.lineTo(20, 21);
    path.cubicTo(17, 19.5, 15, 19.5, 12, 21);
    path.lineTo(12, 24);
    path.quadTo(12, 26, 10, 26);
    path.lineTo(5, 26);
    path.quadTo(3, 26, 3, 24);
    path.closeSubpath();
    return path;
}

void receiver(QPainter &p, const QRectF &box, const QColor &colour)
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 32, box.height() / 32);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(receiverPath());
    p.restore();
}

// An arrow from `from` to `to` with its head at `to`.
void arrow(QPainter &p, QPointF from, QPointF to, qreal stroke, const QColor &colour)
{
    p.setPen(QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(from, to);
    const QPointF direction = (to - from) / std::hypot(to.x() - from.x(), to.y() - from.y());
    const QPointF normal(-direction.y(), direction.x());
    const qreal head = stroke * 2.6;
    QPainterPath tip;
    tip.moveTo(to + direction * stroke * 0.6);
    tip.lineTo(to - direction * head + normal * head * 0.8);
    tip.lineTo(to - direction * head - normal * head * 0.8);
    tip.closeSubpath();
    p.setPen(QPen(colour, stroke * 0.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(colour);
    p.drawPath(tip);
}

// A head and shoulders centred on x, standing on `base`, `height` tall.
void person(QPainter &p, qreal x, qreal base, qreal height, const QColor &colour)
{
    const qreal head = height * 0.22;
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(x, base - height + head), head, head);
    QPainterPath body;
    const qreal top = base - height + head * 2.25;
    const qreal half = height * 0.36;
    body.moveTo(x - half, base);
    body.cubicTo(x - half, top, x + half, top, x + half, base);
    body.closeSubpath();
    p.drawPath(body);
}

// --- the numbered pictures ------------------------------------------------------------------

void offline(QPainter &p)
{
    disc(p, QPointF(24, 24), 20, kGrey, kGreyDark);
    cross(p, QPointF(24, 24), 8.5, 5, kWhite);
}

void online(QPainter &p)
{
    disc(p, QPointF(24, 24), 20, kGreen.lighter(120), kGreenDark);
    check(p, QPointF(23, 25), 22, 5.5, kWhite);
}

void away(QPainter &p)
{
    statusBase(p, kGreen.lighter(120), kGreenDark);
    sign(p, kYellow);
    p.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(37, 37), QPointF(37, 31));
    p.drawLine(QPointF(37, 37), QPointF(41, 39));
}

void notAvailable(QPainter &p)
{
    statusBase(p, kGreen.lighter(120), kGreenDark);
    sign(p, QColor(0x2a, 0x33, 0x60));
    QPainterPath moon;
    moon.addEllipse(QPointF(37, 37), 6.5, 6.5);
    QPainterPath bite;
    bite.addEllipse(QPointF(40.5, 34), 5.5, 5.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kYellow);
    p.drawPath(moon.subtracted(bite));
}

void doNotDisturb(QPainter &p)
{
    statusBase(p, kGreen.lighter(120), kGreenDark);
    sign(p, kRed);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRoundedRect(QRectF(31, 35.5, 12, 3.5), 1.5, 1.5);
}

void invisible(QPainter &p)
{
    disc(p, QPointF(24, 24), 20, kGrey.lighter(115), kGreyDark);
    check(p, QPointF(23, 25), 22, 5.5, QColor(0xdd, 0xdd, 0xdd));
}

void openToContact(QPainter &p)
{
    statusBase(p, kGreen.lighter(120), kGreenDark);
    sign(p, kYellow);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(34, 35), 1.3, 1.5);
    p.drawEllipse(QPointF(40, 35), 1.3, 1.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(32.5, 35, 9, 6), 200 * 16, 140 * 16);
}

void missedCalls(QPainter &p)
{
    receiver(p, QRectF(4, 14, 40, 40), kWhite);
    // A call that came in and went off again: down, then up and away.
    p.setPen(QPen(kRed, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(8, 6);
    path.lineTo(20, 20);
    path.lineTo(34, 8);
    p.drawPath(path);
    arrow(p, QPointF(30, 11), QPointF(38, 4), 4, kRed);
}

void missedMessages(QPainter &p)
{
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(4, 6, 40, 28), 9, 9);
    QPainterPath tail;
    tail.moveTo(12, 32);
    tail.lineTo(10, 43);
    tail.lineTo(22, 32);
    tail.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPath(bubble.united(tail));
    p.setBrush(kWhite);
    for (int i = 0; i < 3; ++i)
        p.drawEllipse(QPointF(14 + i * 10, 20), 3, 3);
}

void voicemails(QPainter &p)
{
    disc(p, QPointF(24, 24), 21, kBlue.lighter(120), kBlue.darker(160));
    p.setPen(QPen(kWhite, 3.5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(15, 26), 6, 6);
    p.drawEllipse(QPointF(33, 26), 6, 6);
    p.drawLine(QPointF(15, 32), QPointF(33, 32));
}

void severalEvents(QPainter &p)
{
    p.setPen(QPen(QColor(0xc8, 0xc8, 0xc8), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 6), QPointF(12, 44));
    QPainterPath flag;
    flag.moveTo(13, 7);
    flag.cubicTo(22, 3, 28, 11, 40, 7);
    flag.lineTo(40, 27);
    flag.cubicTo(28, 31, 22, 23, 13, 27);
    flag.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kRed);
    p.drawPath(flag);
}

void incoming(QPainter &p)
{
    arrow(p, QPointF(28, 4), QPointF(8, 24), 5, kGreen);
}

void incomingConference(QPainter &p)
{
    arrow(p, QPointF(22, 3), QPointF(5, 20), 4, kGreen);
    arrow(p, QPointF(30, 11), QPointF(13, 28), 4, kGreen);
}

void outgoing(QPainter &p)
{
    arrow(p, QPointF(6, 26), QPointF(25, 7), 5, kBlue);
}

void personCall(QPainter &p)
{
    person(p, 16, 31, 28, kWhite);
}

void telephoneCall(QPainter &p)
{
    // A desk telephone: body, dial and the receiver on top.
    QPainterPath body;
    body.moveTo(6, 30);
    body.lineTo(9, 17);
    body.lineTo(23, 17);
    body.lineTo(26, 30);
    body.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRoundedRect(body.boundingRect(), 3, 3);
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(16, 24), 4, 4);
    p.setBrush(kWhite);
    p.drawEllipse(QPointF(16, 24), 1.5, 1.5);
    receiver(p, QRectF(0, -4, 32, 24), kWhite);
}

void conferenceCall(QPainter &p)
{
    person(p, 8, 27, 17, QColor(0xb0, 0xb0, 0xb0));
    person(p, 24, 27, 17, QColor(0xb0, 0xb0, 0xb0));
    person(p, 16, 31, 22, kWhite);
}

void receiverGreen(QPainter &p)
{
    receiver(p, QRectF(0, -2, 32, 32), kGreen);
}

void receiverRed(QPainter &p)
{
    // Hung up: the receiver tipped down at one end.
    p.save();
    p.translate(16, 16);
    p.rotate(-20);
    p.translate(-16, -16);
    receiver(p, QRectF(0, -2, 32, 32), kRed);
    p.restore();
}

// --- preview and icon -----------------------------------------------------------------------

void icon(QPainter &p)
{
    disc(p, QPointF(16, 16), 15, kGreen.lighter(115), kGreenDark);
    receiver(p, QRectF(5, 3, 22, 22), kWhite);
}

QImage preview()
{
    // The key as it looks with a call coming in: arrow, person, green receiver.
    QImage image(96, 96, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.drawImage(QPoint(24, 6), picture(48, 48, online));
    p.drawImage(QPoint(8, 56), picture(32, 32, incoming));
    p.drawImage(QPoint(40, 56), picture(32, 32, personCall));
    p.drawImage(QPoint(74, 64), picture(16, 32, receiverGreen));
    p.end();
    return image;
}

bool save(const QImage &image, const QString &dir, const QString &name)
{
    const QString path = dir + QLatin1Char('/') + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "calls_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: calls_art OUTPUT_DIR\n");
        return 64;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);

    struct Entry {
        int number;
        int size;
        Drawing drawing;
    };
    const Entry entries[] = {
        {8019, 48, offline},        {8020, 48, online},         {8015, 48, away},
        {8018, 48, notAvailable},   {8016, 48, doNotDisturb},   {8017, 48, invisible},
        {8014, 48, openToContact},  {8032, 48, missedCalls},    {8031, 48, missedMessages},
        {8034, 48, voicemails},     {8021, 48, severalEvents},  {8026, 32, incoming},
        {8027, 32, incomingConference}, {8030, 32, outgoing},   {8028, 32, personCall},
        {8033, 32, telephoneCall},  {8029, 32, conferenceCall}, {8022, 16, receiverGreen},
        {8023, 16, receiverRed},
    };
    bool ok = true;
    for (const Entry &entry : entries) {
        const qreal units = entry.size == 48 ? 48 : 32;
        ok &= save(picture(entry.size, units, entry.drawing), dir, QString::number(entry.number) + QStringLiteral(".png"));
    }
    ok &= save(preview(), dir, QStringLiteral("IDB_CALLS.png"));
    ok &= save(picture(16, 32, icon), dir, QStringLiteral("IDI_CALLS_16.png"));
    ok &= save(picture(32, 32, icon), dir, QStringLiteral("IDI_CALLS_32.png"));
    return ok ? 0 : 1;
}
