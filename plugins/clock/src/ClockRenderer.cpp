#include "ClockRenderer.hpp"

#include "CityTable.hpp"
#include "WeatherCache.hpp"

#include <pixkey_plugin.h>

#include <QPainter>
#include <QPolygon>

#include <cstring>

namespace pixkey::clock {

namespace {

constexpr int kCanvasSize = 384;
constexpr int kFaceSize = 96;

const QColor kShadowColour(0x5A, 0x5A, 0x5A);
const QColor kHandColour(0xFF, 0xFF, 0xFF);
const QColor kSecondColour(0xFD, 0x71, 0x12);

ClockTime toClockTime(const SYSTEMTIME &t)
{
    ClockTime time;
    time.year = t.wYear;
    time.month = t.wMonth;
    time.day = t.wDay;
    time.dayOfWeek = t.wDayOfWeek;
    time.hour = t.wHour;
    time.minute = t.wMinute;
    time.second = t.wSecond;
    return time;
}

QImage wrap(PkxSurface &surface)
{
    return QImage(surface.bits, surface.width, surface.height, surface.stride, QImage::Format_BGR888);
}

} // namespace

ClockRenderer::ClockRenderer(const ClockArt &art, const CityTable &cities, WeatherCache *weather)
    : m_art(art), m_cities(cities), m_weather(weather),
      m_canvas(kCanvasSize, kCanvasSize, QImage::Format_RGB32)
{
    m_canvas.fill(Qt::black);
    m_bigFont.LoadFont("VELMORA_16PX");
    m_smallFont.LoadFont("VELMORA_12PX");
}

void ClockRenderer::apply(const ClockSettings &settings)
{
    std::lock_guard lock(m_lock);
    m_pending = settings;
    m_changed = true;
}

void ClockRenderer::takeSettings()
{
    {
        std::lock_guard lock(m_lock);
        if (!m_changed)
            return;
        m_settings = m_pending;
        m_changed = false;
    }
    m_city = m_cities.find(m_settings.shownCityId());
    m_trueTime.SetTimezone(m_city ? m_city->zone.c_str() : nullptr);
}

void ClockRenderer::draw(PkxSurface &surface, int64_t utcMs)
{
    takeSettings();
    SYSTEMTIME now;
    m_trueTime.GetLocalTimeAt(utcMs, &now);
    m_shownTime = toClockTime(now);

    if (m_settings.clockView == 1) {
        drawDigital(surface);
    } else {
        QImage target = wrap(surface);
        drawAnalog(target);
    }

    if (m_city) {
        const uint32_t c = m_settings.textColor;
        const RGBQUAD colour = rgbQuad(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
        m_bigFont.alignment = CTextRenderer::AlignLeft;
        m_bigFont.PrintText(&surface, m_city->name.c_str(), 20, 0, &colour);
    }

    m_smallFont.color = rgbQuad(255, 255, 255);
    m_smallFont.alignment = CTextRenderer::AlignLeft;
    m_smallFont.PrintShadowedText(&surface, dateLineText(m_shownTime).c_str(), 0, 80);

    if (m_city) {
        drawTemperature(surface);
        QImage target = wrap(surface);
        drawMoon(target, utcMs);
    }
}

void ClockRenderer::drawDigital(PkxSurface &surface)
{
    {
        QImage target = wrap(surface);
        QPainter painter(&target);
        painter.drawImage(0, 0, m_art.digitalBack);
    }
    m_bigFont.color = rgbQuad(255, 255, 255);
    m_bigFont.alignment = CTextRenderer::AlignCenter;
    m_bigFont.PrintShadowedText(&surface, digitalTimeText(m_shownTime, m_settings.hour24 != 0).c_str(),
                                48, 40);
}

void ClockRenderer::drawAnalog(QImage &target)
{
    struct Hand {
        double angle, length, tail, width, centre;
        QColor colour;
        bool outlined;
    };
    const ClockTime &t = m_shownTime;
    const double hourAngle = (t.minute / 60.0 + t.hour) * 30;
    const double minuteAngle = (t.second / 60.0 + t.minute) * 6;
    const double secondAngle = t.second * 6.0;
    const Hand hands[] = {
        {hourAngle, 24, 8, 7, 49, kShadowColour, true},
        {minuteAngle, 35, 8, 3, 49, kShadowColour, true},
        {secondAngle, 40, 10, 1, 48, kShadowColour, true},
        {hourAngle, 24, 8, 6, 48, kHandColour, true},
        {minuteAngle, 35, 8, 2, 48, kHandColour, true},
        {secondAngle, 40, 10, 1, 48, kSecondColour, false},
    };

    if (m_art.analogFace.size() == m_canvas.size() && m_art.analogFace.format() == m_canvas.format())
        std::memcpy(m_canvas.bits(), m_art.analogFace.constBits(), m_canvas.sizeInBytes());
    QPainter canvas(&m_canvas);
    if (m_art.analogFace.size() != m_canvas.size() || m_art.analogFace.format() != m_canvas.format())
        canvas.drawImage(QRect(0, 0, kCanvasSize, kCanvasSize), m_art.analogFace);
    for (const Hand &hand : hands) {
        const auto corners = handPolygon(hand.angle, hand.length, hand.tail, hand.width, hand.centre,
                                         hand.centre);
        QPolygon polygon;
        for (const CanvasPoint &p : corners)
            polygon << QPoint(p.x, p.y);
        canvas.setBrush(hand.colour);
        canvas.setPen(hand.outlined ? QPen(Qt::black) : QPen(Qt::NoPen));
        canvas.drawPolygon(polygon);
    }
    canvas.end();

    // Reduce 4:1 by averaging each 4 x 4 block: the canvas was drawn at four times the size
    // exactly so that this gives smooth edges to the hands. Red and blue are summed in the two
    // 16-bit halves of one word and green in another (16 x 255 fits in 16 bits).
    const qsizetype step = m_canvas.bytesPerLine() / qsizetype(sizeof(QRgb));
    for (int y = 0; y < kFaceSize; ++y) {
        uchar *out = target.scanLine(y);
        const auto *rows = reinterpret_cast<const QRgb *>(m_canvas.constScanLine(4 * y));
        for (int x = 0; x < kFaceSize; ++x) {
            uint32_t redBlue = 0;
            uint32_t green = 0;
            for (int dy = 0; dy < 4; ++dy) {
                const QRgb *px = rows + dy * step + 4 * x;
                for (int dx = 0; dx < 4; ++dx) {
                    redBlue += px[dx] & 0x00FF00FFu;
                    green += px[dx] & 0x0000FF00u;
                }
            }
            out[3 * x] = static_cast<uchar>(((redBlue & 0xFFFFu) + 8) >> 4);
            out[3 * x + 1] = static_cast<uchar>(((green >> 8) + 8) >> 4);
            out[3 * x + 2] = static_cast<uchar>(((redBlue >> 16) + 8) >> 4);
        }
    }
}

void ClockRenderer::drawTemperature(PkxSurface &surface)
{
    if (!m_weather || !m_city)
        return;
    const int celsius = m_weather->temperatureFor(*m_city);
    if (celsius == kUnknownTemperature)
        return;
    const bool fahrenheit = m_settings.degrees == 1;
    const std::string text = temperatureText(displayTemperature(celsius, fahrenheit), fahrenheit);
    m_smallFont.alignment = CTextRenderer::AlignRight;
    m_smallFont.PrintShadowedText(&surface, text.c_str(), 93, 80);
}

void ClockRenderer::drawMoon(QImage &target, int64_t utcMs)
{
    const int frame = moonFrame(utcMs);
    QPainter painter(&target);
    painter.setClipRect(QRect(3, 1, 11, 11));
    painter.drawImage(QPoint(3, 1 - 11 * frame), m_art.moonStrip);
}

} // namespace pixkey::clock
