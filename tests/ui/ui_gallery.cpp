// Shows the thumbnail panel in both layouts and the picture buttons in each of
// their states, then saves a screenshot of the whole screen and quits. Run under
// a real X server (xvfb-run) to look at the controls:
//   xvfb-run -s "-screen 0 1000x640x24" ui_gallery shot.png
#include "app/photos/PhotoThumbPanel.h"
#include "app/ui/MouseEffectImage.h"
#include "app/ui/TwoStatesPicButton.h"
#include "platform/forms/application.h"

#include "pictures.h"
#include "qtwidgets.h"
#include "testsupport.h"

#include <QPainter>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using namespace quillon;

namespace {

forms::TPicture ButtonPicture(const QString &text, QColor face, QColor ink, int w = 112, int h = 50)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor(40, 40, 48));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(face);
    painter.setPen(QPen(ink, 2));
    painter.drawRoundedRect(QRectF(2, 2, w - 4, h - 4), 8, 8);
    painter.setPen(ink);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, w, h), Qt::AlignCenter, text);
    painter.end();
    forms::TPicture picture;
    const forms::TBitmap bitmap(image);
    picture.SetGraphic(&bitmap);
    return picture;
}

forms::TLabel *Caption(QWidget *parent, int x, int y, const char *text)
{
    auto *label = new forms::TLabel(parent);
    label->SetTransparent(true);
    label->SetFontColor(forms::clWhite);
    label->SetCaption(text);
    label->move(x, y);
    return label;
}

} // namespace

int main(int argc, char **argv)
{
    forms::TApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("ui_gallery.png");
    testsupport::TempDir photos;

    QWidget window;
    window.setWindowTitle("Quillon controls");
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(40, 40, 48));
    window.setPalette(palette);
    window.setGeometry(0, 0, 1000, 640);

    const struct
    {
        int w, h, seed;
    } pictures[] = {{640, 480, 1}, {480, 640, 2}, {800, 600, 3}, {90, 60, 4}, {1200, 300, 5}};
    std::vector<std::string> paths;
    for (const auto &p : pictures) {
        paths.push_back(photos.file("photo" + std::to_string(p.seed) + ".jpg"));
        testsupport::WriteJpeg(paths.back(), p.w, p.h, testsupport::Gradient(p.seed));
    }

    Caption(&window, 8, 4, "Single row (the main window's panel), photo 2 selected:");
    auto *row = new TPhotoThumbPanel(&window);
    row->setGeometry(8, 24, 370, 130);
    row->SetCellWidth(110);
    row->SetCellHeight(90);
    for (const std::string &path : paths)
        row->ThumbItems()->Add()->SetFileName(path);
    row->SetSelectedIndex(1);

    Caption(&window, 8, 164, "Grid, photo 5 selected:");
    auto *grid = new TPhotoThumbPanel(&window);
    grid->setGeometry(8, 184, 370, 260);
    grid->SetCellWidth(110);
    grid->SetCellHeight(90);
    grid->SetWrap(true);
    for (const std::string &path : paths)
        grid->ThumbItems()->Add()->SetFileName(path);
    grid->SetSelectedIndex(4);

    const forms::TPicture up = ButtonPicture("Photos", QColor(70, 70, 90), QColor(200, 200, 220));
    const forms::TPicture down = ButtonPicture("Photos", QColor(240, 170, 40), Qt::black);
    const forms::TPicture over = ButtonPicture("Photos", QColor(120, 160, 230), Qt::white);
    const char *tabStates[] = {"Tab: up", "Tab: down", "Tab: pointer over"};
    for (int i = 0; i < 3; ++i) {
        Caption(&window, 640, 4 + i * 80, tabStates[i]);
        auto *tab = new TTwoStatesPicButton(&window);
        tab->move(640, 22 + i * 80);
        tab->SetUpPicture(&up);
        tab->SetDownPicture(&down);
        tab->SetOverPicture(&over);
        tab->SetDownState(i == 1);
        if (i == 2)
            testsupport::SendEnter(tab);
    }

    const forms::TPicture origin
        = ButtonPicture("Add photo(s)", QColor(60, 90, 60), Qt::white, 170, 28);
    const forms::TPicture hot
        = ButtonPicture("Add photo(s)", QColor(90, 200, 90), Qt::black, 170, 28);
    const forms::TPicture pressed
        = ButtonPicture("Add photo(s)", QColor(30, 120, 30), Qt::yellow, 170, 28);
    const char *commandStates[] = {"Command: resting", "Command: pointer over", "Command: pressed"};
    for (int i = 0; i < 3; ++i) {
        Caption(&window, 640, 250 + i * 60, commandStates[i]);
        auto *command = new TMouseEffectImage(&window);
        command->move(640, 268 + i * 60);
        command->SetOriginPicture(&origin);
        command->SetOverPicture(&hot);
        command->SetDownPicture(&pressed);
        if (i == 1)
            testsupport::SendEnter(command);
        if (i == 2)
            testsupport::SendPress(command);
    }

    window.show();
    QTimer::singleShot(500, &app, [&] {
        const QPixmap shot = window.screen()->grabWindow(0);
        const bool saved = shot.save(out);
        std::printf("%s %s (%dx%d)\n", saved ? "saved" : "could not save", qPrintable(out),
                    shot.width(), shot.height());
        app.quit();
    });
    return app.exec();
}
