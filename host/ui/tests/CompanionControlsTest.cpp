// The hover button and the link text: what they draw in each state and what a click opens.

#include "CPxkHoverButton.h"
#include "LinkStatic.h"
#include "UiPictures.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using pixkey::CPxkHoverButton;
using pixkey::LinkStatic;

namespace {

QImage picture(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

bool isBlue(QRgb c)
{
    return qBlue(c) > 180 && qRed(c) < 90 && qGreen(c) < 90;
}

int countPixels(const QImage &image, const std::function<bool(QRgb)> &test)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += test(image.pixel(x, y)) ? 1 : 0;
    return count;
}

TEST(LinkStaticTest, TargetOfEachKind)
{
    struct Case {
        LinkStatic::LinkKind kind;
        const char *text;
        const char *linkText;
        const char *url;
    } cases[] = {
        {LinkStatic::WebLink, "www.example.org", "", "http://www.example.org"},
        {LinkStatic::WebLink, "http://www.example.org/a", "", "http://www.example.org/a"},
        {LinkStatic::WebLink, "HTTP://WWW.EXAMPLE.ORG", "", "http://www.example.org"},
        // A secure address keeps its scheme instead of becoming "http://https://...".
        {LinkStatic::WebLink, "https://www.example.org", "", "https://www.example.org"},
        {LinkStatic::WebLink, "Our home page", "example.org/pixkey", "http://example.org/pixkey"},
        {LinkStatic::MailLink, "support@example.org", "", "mailto:support@example.org"},
        {LinkStatic::MailLink, "Write to us", "mailto:support@example.org", "mailto:support@example.org"},
        {LinkStatic::NoLink, "www.example.org", "", ""},
        {LinkStatic::WebLink, "", "", ""},
    };
    for (const Case &c : cases) {
        LinkStatic link(QString::fromUtf8(c.text), c.kind);
        link.setLinkText(QString::fromUtf8(c.linkText));
        EXPECT_EQ(link.targetUrl().toString(), QString::fromUtf8(c.url)) << c.text << " / " << c.linkText;
    }
}

TEST(LinkStaticTest, ClickOpensTargetOnlyWithLinkKind)
{
    QStringList opened;
    LinkStatic link(QStringLiteral("example.org"), LinkStatic::WebLink);
    link.setOpener([&opened](const QUrl &url) {
        opened << url.toString();
        return true;
    });
    link.show();
    QTest::mouseClick(&link, Qt::LeftButton, {}, link.rect().center());
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened.front(), QStringLiteral("http://example.org"));

    link.setLinkKind(LinkStatic::NoLink);
    QTest::mouseClick(&link, Qt::LeftButton, {}, link.rect().center());
    EXPECT_EQ(opened.size(), 1);
    EXPECT_FALSE(link.open());
    EXPECT_EQ(link.cursor().shape(), Qt::ArrowCursor);
}

TEST(LinkStaticTest, LinkIsBlueAndPlainTextIsNotAndSizeFollowsText)
{
    LinkStatic link(QStringLiteral("www.example.org"), LinkStatic::WebLink);
    link.setFillBackground(true);
    link.resize(link.sizeHint());
    EXPECT_GT(countPixels(picture(link), isBlue), 10);
    EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);

    link.setLinkKind(LinkStatic::NoLink);
    EXPECT_EQ(countPixels(picture(link), isBlue), 0);

    const int shortWidth = link.sizeHint().width();
    link.setText(QStringLiteral("www.example.org/a/much/longer/address"));
    EXPECT_GT(link.sizeHint().width(), shortWidth);
    EXPECT_EQ(link.size(), link.sizeHint());
}

class HoverButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_button.setIcon(pixkey::UiPictures::addPluginIcon());
        m_button.setIconSize(QSize(16, 16));
        m_button.setText(QStringLiteral("Add Plug-in..."));
        m_button.resize(m_button.sizeHint());
    }
    // The colour of the top-left corner, where a frame is drawn.
    QRgb corner() { return picture(m_button).pixel(0, 0); }

    CPxkHoverButton m_button;
};

TEST_F(HoverButtonTest, FrameOnlyWhileHoveredOrPressed)
{
    const QPalette palette = m_button.palette();
    EXPECT_EQ(corner(), palette.color(QPalette::Button).rgb()) << "no frame at rest";
    m_button.setDown(true);
    EXPECT_EQ(corner(), palette.color(QPalette::Dark).rgb()) << "sunken while pressed";
    m_button.setDown(false);

    // Hover lights the button only while the application has an active window.
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QApplication::setActiveWindow(nullptr);
    QApplication::sendEvent(&m_button, &enter);
    EXPECT_FALSE(m_button.isHovered());

    m_button.show();
    QApplication::setActiveWindow(&m_button);
    ASSERT_EQ(QApplication::activeWindow(), &m_button);
    QApplication::sendEvent(&m_button, &enter);
    EXPECT_TRUE(m_button.isHovered());
    EXPECT_EQ(corner(), palette.color(QPalette::Light).rgb()) << "raised while hovered";
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&m_button, &leave);
    EXPECT_FALSE(m_button.isHovered());
    EXPECT_EQ(corner(), palette.color(QPalette::Button).rgb());
}

TEST_F(HoverButtonTest, DisabledIconIsGraySilhouette)
{
    const QRect iconArea(4, (m_button.height() - 16) / 2, 16, 16);
    const auto coloured = [](QRgb c) { return std::abs(qRed(c) - qBlue(c)) > 40 || std::abs(qGreen(c) - qBlue(c)) > 40; };
    EXPECT_GT(countPixels(picture(m_button).copy(iconArea), coloured), 20) << "the icon is in colour when enabled";
    m_button.setEnabled(false);
    EXPECT_EQ(countPixels(picture(m_button).copy(iconArea), coloured), 0);
}

TEST_F(HoverButtonTest, ClicksAndIconLoading)
{
    QSignalSpy clicked(&m_button, &CPxkHoverButton::clicked);
    m_button.show();
    QTest::mouseClick(&m_button, Qt::LeftButton, {}, m_button.rect().center());
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_FALSE(m_button.loadIcon(QStringLiteral(":/pixkey/ui/no-such-icon.svg")));
    EXPECT_FALSE(m_button.icon().isNull()) << "a failed load keeps the icon";
    EXPECT_TRUE(m_button.loadIcon(QStringLiteral(":/pixkey/ui/app-icon.svg")));
}

} // namespace
