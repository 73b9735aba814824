// The window's pictures as the program gets them: from the resources, at the
// places of the window's layout. Picture buttons size themselves to their
// pictures, so a wrong size moves or clips a control; a picture cut from the
// wrong place shows a seam; a label on too bright or too dark a ground can't be read.

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Placed
{
    const char *name;
    QRect place; // in the client area of the window (or of the about box)
};

// Every picture that lies on the main window's background, with its place.
const std::vector<Placed> &windowPictures()
{
    static const std::vector<Placed> pictures = {
        {"empty.jpg", {15, 90, 419, 320}},
        {"tab_photos_up.png", {58, 31, 112, 50}},
        {"tab_photos_down.png", {58, 31, 112, 50}},
        {"tab_output_up.png", {175, 31, 113, 50}},
        {"tab_output_down.png", {175, 31, 113, 50}},
        {"btn_add.png", {446, 168, 170, 28}},
        {"btn_add_over.png", {446, 168, 170, 28}},
        {"btn_addfolder.png", {446, 214, 170, 28}},
        {"btn_addfolder_over.png", {446, 214, 170, 28}},
        {"btn_remove.png", {445, 260, 170, 28}},
        {"btn_remove_over.png", {445, 260, 170, 28}},
        {"btn_removeall.png", {446, 307, 170, 28}},
        {"btn_removeall_over.png", {446, 307, 170, 28}},
        {"btn_go.png", {446, 421, 170, 37}},
        {"btn_go_over.png", {446, 421, 170, 37}},
        {"glyph_minimise.png", {575, 6, 10, 11}},
        {"glyph_close.png", {592, 6, 10, 11}},
    };
    return pictures;
}

QImage load(const QString &name)
{
    return QImage(QStringLiteral(":/artwork/") + name);
}

double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(QRgb c)
{
    return 0.2126 * linear(qRed(c)) + 0.7152 * linear(qGreen(c)) + 0.0722 * linear(qBlue(c));
}

// The contrast ratio of the accessibility guidelines: 1 (none) to 21 (black on white).
double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The least contrast between the ink and any pixel of the ground under a label's box.
double worstContrast(const QImage &ground, const QRect &box, QRgb ink)
{
    double worst = 21.0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            worst = std::min(worst, contrast(ground.pixel(x, y), ink));
    return worst;
}

int difference(QRgb a, QRgb b)
{
    return std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                     std::abs(qBlue(a) - qBlue(b))});
}

QRgb rowMean(const QImage &img, int y, int x0, int x1)
{
    long r = 0, g = 0, b = 0;
    for (int x = x0; x < x1; ++x) {
        const QRgb c = img.pixel(x, y);
        r += qRed(c);
        g += qGreen(c);
        b += qBlue(c);
    }
    const long n = x1 - x0;
    return qRgb(int(r / n), int(g / n), int(b / n));
}

} // namespace

TEST(Artwork, EveryPictureHasTheSizeOfItsPlaceAndNoTransparency)
{
    std::vector<Placed> all = windowPictures();
    all.push_back({"background.jpg", {0, 0, 630, 530}});
    all.push_back({"about.jpg", {0, 0, 300, 266}});
    for (const Placed &p : all) {
        SCOPED_TRACE(p.name);
        const QImage img = load(p.name);
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.size(), p.place.size());
        // The controls paint their picture as it is; a transparent pixel would show
        // whatever the control was painted over, not the background.
        EXPECT_FALSE(img.hasAlphaChannel());
    }
}

TEST(Artwork, PicturesJoinTheBackgroundWithoutSeams)
{
    const QImage background = load("background.jpg");
    ASSERT_EQ(background.size(), QSize(630, 530));
    // Both pictures went through JPEG or came from the same drawing: a few levels apart.
    const int tolerance = 8;
    for (const Placed &p : windowPictures()) {
        SCOPED_TRACE(p.name);
        const QImage img = load(p.name);
        ASSERT_EQ(img.size(), p.place.size());
        const QRect own(QPoint(0, 0), img.size());
        std::vector<QPoint> corners = {own.topLeft(), own.topRight()};
        // A tab's lower corners belong to the tab itself, every other picture's to the ground.
        if (std::string(p.name).rfind("tab_", 0) != 0) {
            corners.push_back(own.bottomLeft());
            corners.push_back(own.bottomRight());
        }
        for (const QPoint &c : corners) {
            EXPECT_LE(difference(img.pixel(c), background.pixel(p.place.topLeft() + c)), tolerance)
                << "corner " << c.x() << "," << c.y();
        }
    }

    // The tab of the active view runs on into the light sheet right below it.
    for (const char *name : {"tab_photos_down.png", "tab_output_down.png"}) {
        SCOPED_TRACE(name);
        const auto it = std::find_if(windowPictures().begin(), windowPictures().end(),
                                     [&](const Placed &p) { return std::string(p.name) == name; });
        ASSERT_NE(it, windowPictures().end());
        const QImage tab = load(name);
        const QRect &at = it->place;
        const QRgb tabBottom = rowMean(tab, tab.height() - 1, 10, tab.width() - 10);
        const QRgb sheetTop = rowMean(background, at.bottom() + 1, at.left() + 10, at.right() - 9);
        EXPECT_LE(difference(tabBottom, sheetTop), 4);
        // ... while the tab of the other view is set off from it.
        const QImage up = load(QString(name).replace("_down", "_up"));
        EXPECT_GT(difference(rowMean(up, up.height() - 1, 10, up.width() - 10), sheetTop), 60);
    }
}

TEST(Artwork, LabelsOfTheMainWindowReadOnTheirGround)
{
    const QImage background = load("background.jpg");
    ASSERT_FALSE(background.isNull());
    // "About " in sky blue, red while the pointer is over it
    const QRect about(39, 477, 31, 13);
    EXPECT_GE(worstContrast(background, about, qRgb(0xA6, 0xCA, 0xF0)), 7.0);
    EXPECT_GE(worstContrast(background, about, qRgb(0xFF, 0x00, 0x00)), 4.5);
    // the status line: dark text from 83, 429 up to the progress bar at 268
    const QRect status(83, 429, 268 - 83, 13);
    EXPECT_GE(worstContrast(background, status, qRgb(0x20, 0x2D, 0x46)), 7.0);
    EXPECT_GE(worstContrast(background, status, qRgb(0, 0, 0)), 7.0);
}

TEST(Artwork, LabelsOfTheAboutBoxReadOnTheirGround)
{
    const QImage about = load("about.jpg");
    ASSERT_FALSE(about.isNull());
    const QRgb white = qRgb(255, 255, 255);
    EXPECT_GE(worstContrast(about, QRect(112, 65, 62, 13), white), 7.0);  // version
    EXPECT_GE(worstContrast(about, QRect(32, 153, 240, 13), white), 7.0); // support line
    EXPECT_GE(worstContrast(about, QRect(32, 177, 240, 13), white), 7.0); // homepage
    // "Continue" in green on its flat button at 208, 225, 73 x 25
    EXPECT_GE(worstContrast(about, QRect(214, 231, 61, 13), qRgb(0, 0x80, 0)), 4.5);
}

TEST(Artwork, ApplicationIconIsATileOnTransparency)
{
    const QImage icon = load("quillon.png");
    ASSERT_EQ(icon.size(), QSize(256, 256));
    ASSERT_TRUE(icon.hasAlphaChannel());
    EXPECT_EQ(qAlpha(icon.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(255, 0)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(128, 128)), 255);
    EXPECT_EQ(qAlpha(icon.pixel(20, 128)), 255);
}
