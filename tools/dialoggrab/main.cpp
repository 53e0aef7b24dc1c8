// orvane-dialog-grab DIR: builds both dialogs offscreen from their templates,
// as the program shows them at rest and during a scan, and saves each as a PNG
// for a look at the layout and the skin. The panes get placeholder cells.
#include "platform/qt/QtCanvas.h"
#include "platform/qt/QtWindowSystem.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <functional>

namespace {

using namespace platform;

struct PreviewHandler : DialogHandler {
    std::function<void(Window&)> init;
    Window* window = nullptr;
    void onInit(Window& w) override
    {
        window = &w;
        if (init) init(w);
    }
    void onCommand(int, int) override {}
    void onHorizontalScroll(int, int) override {}
    void onLeftButtonDown(const MouseEvent&) override {}
    void onRightButtonDown(const MouseEvent&) override {}
    void onLeftButtonUp(const MouseEvent&) override {}
    void onMouseMove(const MouseEvent&) override {}
    void onWheel(int, const MouseEvent&) override {}
    void onPaint(Canvas& canvas) override
    {
        const Size size = window->clientSize();
        canvas.drawBitmap("BITMAP_MAIN", size);
        if (!panes) return;
        const int w = size.width, h = size.height;
        paintPane(canvas, {w / 45, h * 11 / 50, w - w / 45, h * 19 / 50 - 1});
        paintPane(canvas, {w / 45, h * 25 / 50, w - w / 45, h * 33 / 50 - 3});
    }
    void onClose() override {}

    static void paintPane(Canvas& canvas, Rect pane)
    {
        canvas.selectPen(0x000000, 1);
        canvas.selectStockFont();
        for (int k = 0; k < 5; ++k) {
            const Rect cell{pane.left + (pane.right - pane.left) * k / 5, pane.top,
                            pane.left + (k + 1) * (pane.right - pane.left) / 5, pane.bottom};
            const bool selected = k == 3;
            canvas.selectBrush(selected ? 0x646464 : 0xC8C8C8);
            canvas.setTextBackground(selected ? 0x646464 : 0xC8C8C8);
            canvas.rectangle(cell);
            canvas.drawText({cell.left + 3, cell.top + 3, cell.right - 3, cell.bottom - 3},
                            "pts: 00:01:02.40\ntimecode: 00:01:02\nstartframe:\n 1560  Type I\n");
        }
        canvas.selectBrush(0x000000);
        const int lt = pane.left + (pane.right - pane.left) * 2 / 5 + 3, tt = pane.top + 3, bt = pane.bottom - 3;
        const Point top[] = {{lt - 9, tt - 2}, {lt + 3, tt - 2}, {lt - 3, tt + 8}};
        const Point bottom[] = {{lt - 9, bt + 1}, {lt + 3, bt + 1}, {lt - 3, bt - 9}};
        canvas.polygon(top, 3);
        canvas.polygon(bottom, 3);
    }
    bool panes = false;
};

void hide(Window& w, std::initializer_list<int> ids)
{
    for (int id : ids)
        if (Control* c = w.child(id)) c->show(false);
}

bool save(QWidget* widget, const QString& path)
{
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: orvane-dialog-grab DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    qt::QtWindowSystem system;

    PreviewHandler main;
    main.panes = true;
    main.init = [](Window& w) {
        hide(w, {1057, 1064, 1058, 1065, 1056, 1059, 1061, 1033, 1031, 1037, 1080, 1032, 1036, 1038, 1020, 1024, 1023});
        w.child(1067)->setText("Source PVA:  Nr.0   Selection: 00:00:10.00 -> 00:00:20.00   File: /home/user/clip.pva");
        w.child(1068)->setText("New PVA: 3 12.4MB Sel: 4.1MB 00:00:10");
        w.child(1001)->setText("ORVANE 3.50\r\nnote: pva files of 4GB and more can be cut\r\n");
    };
    qt::QtDialogWindow* window = system.createDialog("MAINCUTDIALOG", main);
    window->show(true);
    bool ok = save(window->widget(), dir + "/main.png");

    window->child(1064)->show(true);
    window->child(1064)->setPosition(40);
    window->child(1057)->show(true);
    ok = save(window->widget(), dir + "/main-scanning.png") && ok;

    PreviewHandler setup;
    qt::QtDialogWindow* setupWindow = system.createDialog("PVADIALOG", setup);
    setupWindow->child(1058)->setChecked(true);
    setupWindow->child(1062)->setText("0");
    setupWindow->child(1065)->setText("0");
    setupWindow->child(1064)->setText("650");
    setupWindow->show(true);
    ok = save(setupWindow->widget(), dir + "/setup.png") && ok;
    return ok ? 0 : 1;
}
