// The two dialog templates: every control with its id, kind and caption, and a
// layout where the panes stay free, nothing overlaps and every caption fits,
// checked on the tables and on the widgets built from them.
#include "QtTestSupport.h"

#include "platform/qt/QtDialogBuilder.h"
#include "platform/qt/QtWindowSystem.h"
#include "resources/DialogTemplates.h"

#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

#include <map>

namespace {

using resources::ControlKind;
using resources::ControlTemplate;
using resources::DialogTemplate;
using platform::qt::pixelRect;

struct Expected {
    int id;
    ControlKind kind;
    const char* caption;
};

const Expected mainControls[] = {
    {1001, ControlKind::console, ""},
    {1034, ControlKind::bitmapButton, ""},
    {1035, ControlKind::bitmapButton, ""},
    {1026, ControlKind::pushButton, "A propos "},
    {1070, ControlKind::pushButton, "Sauver sous"},
    {1051, ControlKind::scrollBar, ""},
    {1052, ControlKind::scrollBar, ""},
    {1054, ControlKind::pushButton, "Nouvelle Source PVA"},
    {1055, ControlKind::pushButton, "Add "},
    {1027, ControlKind::pushButton, "Setup"},
    {1056, ControlKind::pushButton, "S PVA"},
    {1064, ControlKind::progressBar, ""},
    {1057, ControlKind::pushButton, "Annuler Scan PVA"},
    {1067, ControlKind::staticText, ""},
    {1068, ControlKind::staticText, ""},
    {1069, ControlKind::pushButton, "Effacer"},
    {1065, ControlKind::progressBar, ""},
    {1058, ControlKind::pushButton, "Annuler Sauver PVA"},
    {1071, ControlKind::pushButton, "Sauver"},
    {1029, ControlKind::pushButton, "<"},
    {1030, ControlKind::pushButton, ">"},
    {1072, ControlKind::pushButton, "Défaire"},
    {1073, ControlKind::pushButton, "Refaire"},
    {1059, ControlKind::pushButton, "S MPG"},
    {1020, ControlKind::pushButton, "Ouvrir lecteur PVA"},
    {1080, ControlKind::bitmapButton, ">"},
    {1031, ControlKind::bitmapButton, "||>"},
    {1032, ControlKind::bitmapButton, ">>"},
    {1033, ControlKind::bitmapButton, "|||>"},
    {1036, ControlKind::bitmapButton, ">>>"},
    {1037, ControlKind::bitmapButton, "|>"},
    {1038, ControlKind::bitmapButton, "PAUSE"},
    {1060, ControlKind::pushButton, "Inserer"},
    {1081, ControlKind::pushButton, "50%"},
    {1082, ControlKind::pushButton, "25%"},
    {1022, ControlKind::pushButton, "Max"},
    {1083, ControlKind::pushLikeCheckBox, "OnTop"},
    {1023, ControlKind::pushButton, "Cacher"},
    {1024, ControlKind::pushButton, "Montrer"},
    {65535, ControlKind::staticText, "Sélection : Clic G=Pos de Début  et Clic D=Pos de Fin"},
    {1061, ControlKind::pushButton, "Redémarer Serveur"},
    {1074, ControlKind::pushButton, "Tout éffacer"},
    {1099, ControlKind::trackbar, ""},
    {1075, ControlKind::pushButton, "Sauver Sélection"},
    {1084, ControlKind::pushButton, "100%"},
    {1085, ControlKind::pushButton, "75%"},
};

const Expected setupControls[] = {
    {1038, ControlKind::picture, ""},
    {1001, ControlKind::pushButton, "OK"},
    {1002, ControlKind::pushButton, "Annuler"},
    {1003, ControlKind::pushButton, "SAUVER OPTIONS "},
    {65535, ControlKind::staticText, "Couper sur chaque Frame, sans intelligence :"},
    {1055, ControlKind::checkBox, "Couper sur toutes I, P ou B Frames"},
    {1058, ControlKind::checkBox, "Couper sur I Frames (GOP) seulement"},
    {1059, ControlKind::checkBox, "Copier seulement les Paquets Audio complets"},
    {1060, ControlKind::checkBox, "Ajoutez ensuite l' I Frame aux bords de coupe "},
    {1061, ControlKind::checkBox, "Calculer nouvelle durée PTS pour le nouveau fichier pva "},
    {65535, ControlKind::staticText, "Offset Audio (en ms) :"},
    {1062, ControlKind::edit, ""},
    {65535, ControlKind::staticText, "Offset Audio pour l'assemblage PVA (en ms) : "},
    {1065, ControlKind::edit, ""},
    {65535, ControlKind::staticText, "Réglages à 0 pour Pvastrumento "},
    {1063, ControlKind::checkBox, "Découper le nouveau fichier Pva en fichier de :"},
    {65535, ControlKind::staticText, "Taille du fichier (en MB) :"},
    {1064, ControlKind::edit, ""},
    {1066, ControlKind::checkBox, "Ne pas sauver l'Audio "},
    {1067, ControlKind::checkBox, "Sauver élémentaire mpg2 (pas AVHeaders)"},
    {1068, ControlKind::checkBox, "Scan rapide PVA "},
    {1056, ControlKind::groupBox, ""},
    {1057, ControlKind::groupBox, ""},
    {65535, ControlKind::groupBox, ""},
    {65535, ControlKind::groupBox, ""},
    {1069, ControlKind::checkBox, "Raccords propres"},
    {1070, ControlKind::checkBox, "Vérifier après sauvegarde"},
    {1071, ControlKind::checkBox, "Réencoder aux coupes"},
};

template <size_t N>
void expectControls(const DialogTemplate& dialog, const Expected (&expected)[N])
{
    ASSERT_EQ(dialog.controlCount, static_cast<int>(N)) << dialog.name;
    for (size_t i = 0; i < N; ++i) {
        const ControlTemplate& c = dialog.controls[i];
        EXPECT_EQ(c.id, expected[i].id) << dialog.name << " #" << i;
        EXPECT_EQ(c.kind, expected[i].kind) << dialog.name << " " << c.id;
        EXPECT_STREQ(c.caption, expected[i].caption) << dialog.name << " " << c.id;
    }
}

const ControlTemplate& find(const DialogTemplate& d, int id)
{
    for (int i = 0; i < d.controlCount; ++i)
        if (d.controls[i].id == id) return d.controls[i];
    throw std::runtime_error("no control " + std::to_string(id));
}

QRect px(int id) { return pixelRect(find(resources::mainCutDialogTemplate(), id)); }

// Half-open pixel rectangles of the panes on the 657 x 457 client area.
const QRect sourcePane(QPoint(14, 100), QPoint(642, 171));
const QRect listPane(QPoint(14, 228), QPoint(642, 297));

bool isContainer(const ControlTemplate& c)
{
    return c.kind == ControlKind::picture || c.kind == ControlKind::groupBox;
}

void expectNoOverlap(const DialogTemplate& d)
{
    const QRect client(QPoint(0, 0), platform::qt::pixelSize(d));
    for (int i = 0; i < d.controlCount; ++i) {
        const ControlTemplate& a = d.controls[i];
        const QRect ra = pixelRect(a);
        EXPECT_TRUE(client.contains(ra)) << d.name << " " << a.id << " leaves the dialog";
        for (int j = i + 1; j < d.controlCount; ++j) {
            const ControlTemplate& b = d.controls[j];
            const QRect rb = pixelRect(b);
            if (a.kind == ControlKind::picture || b.kind == ControlKind::picture) continue;
            // The two progress bars share their place on purpose.
            if (a.kind == ControlKind::progressBar && b.kind == ControlKind::progressBar) continue;
            if (a.kind == ControlKind::groupBox && b.kind != ControlKind::groupBox && ra.contains(rb)) continue;
            if (b.kind == ControlKind::groupBox && a.kind != ControlKind::groupBox && rb.contains(ra)) continue;
            EXPECT_FALSE(ra.intersects(rb)) << d.name << ": " << a.id << " (" << a.caption << ") overlaps " << b.id << " ("
                                            << b.caption << ")";
        }
    }
}

TEST(DialogTemplates, EveryControlOfBothDialogsWithItsIdKindAndCaption)
{
    expectControls(resources::mainCutDialogTemplate(), mainControls);
    expectControls(resources::setupDialogTemplate(), setupControls);
    EXPECT_EQ(resources::findDialogTemplate("MAINCUTDIALOG"), &resources::mainCutDialogTemplate());
    EXPECT_EQ(resources::findDialogTemplate("PVADIALOG"), &resources::setupDialogTemplate());
    EXPECT_EQ(resources::findDialogTemplate("OTHER"), nullptr);

    EXPECT_EQ(platform::qt::pixelSize(resources::mainCutDialogTemplate()), QSize(657, 457));
    EXPECT_EQ(platform::qt::pixelSize(resources::setupDialogTemplate()), QSize(389, 418));
    const ControlTemplate& picture = find(resources::setupDialogTemplate(), 1038);
    EXPECT_STREQ(picture.bitmap, "BITMAP_MAIN");
    EXPECT_EQ(pixelRect(picture), QRect(0, 0, 389, 418));
    EXPECT_STREQ(find(resources::mainCutDialogTemplate(), 1034).bitmap, "BITMAP_MINIMZE");
    EXPECT_STREQ(find(resources::mainCutDialogTemplate(), 1035).bitmap, "BITMAP_CLOSE");
}

TEST(DialogTemplates, NothingOverlapsAndThePanesStayFree)
{
    expectNoOverlap(resources::mainCutDialogTemplate());
    expectNoOverlap(resources::setupDialogTemplate());
    const DialogTemplate& d = resources::mainCutDialogTemplate();
    for (int i = 0; i < d.controlCount; ++i) {
        const QRect r = pixelRect(d.controls[i]);
        EXPECT_FALSE(r.intersects(sourcePane)) << d.controls[i].id << " covers the source pane";
        EXPECT_FALSE(r.intersects(listPane)) << d.controls[i].id << " covers the list pane";
    }
    // Group boxes frame their controls without crossing each other.
    const DialogTemplate& s = resources::setupDialogTemplate();
    for (int i = 0; i < s.controlCount; ++i) {
        const ControlTemplate& c = s.controls[i];
        if (isContainer(c)) continue;
        int frames = 0;
        for (int j = 0; j < s.controlCount; ++j)
            if (s.controls[j].kind == ControlKind::groupBox && pixelRect(s.controls[j]).contains(pixelRect(c))) ++frames;
        const bool button = c.id == 1001 || c.id == 1002 || c.id == 1003;
        EXPECT_EQ(frames, button ? 0 : 1) << c.id << " " << c.caption;
    }
}

TEST(DialogTemplates, MainWindowLayout)
{
    // Each info line just above its pane, each scroll bar just under it.
    EXPECT_LE(px(1067).bottom(), sourcePane.top() - 1);
    EXPECT_GE(px(1067).bottom(), sourcePane.top() - 6);
    EXPECT_LE(px(1068).bottom(), listPane.top() - 1);
    EXPECT_GE(px(1068).bottom(), listPane.top() - 6);
    for (auto [bar, pane] : {std::pair{1051, sourcePane}, {1052, listPane}}) {
        EXPECT_GT(px(bar).top(), pane.bottom());
        EXPECT_LE(px(bar).top(), pane.bottom() + 4);
        EXPECT_EQ(px(bar).left(), pane.left());
        EXPECT_LE(std::abs(px(bar).right() - pane.right()), 2);
    }
    // The list's edit buttons between the panes.
    for (int id : {1055, 1060, 1069, 1074, 1072, 1073}) {
        EXPECT_GT(px(id).top(), px(1051).bottom()) << id;
        EXPECT_LT(px(id).bottom(), px(1068).top()) << id;
    }
    // Speed slider, viewer size buttons and "OnTop" side by side in one row.
    std::map<int, int> rowByLeft;
    for (int id : {1099, 1082, 1081, 1085, 1084, 1022, 1083}) {
        EXPECT_EQ(px(id).top(), px(1099).top()) << id;
        rowByLeft[px(id).left()] = id;
    }
    int previousRight = -1;
    for (auto [left, id] : rowByLeft) {
        if (previousRight >= 0) {
            EXPECT_LE(left - previousRight, 8) << id;
        }
        previousRight = px(id).right();
    }
    // Save buttons and console under the list pane, above the bottom strip.
    for (int id : {1071, 1070, 1075, 1001}) {
        EXPECT_GT(px(id).top(), px(1052).bottom()) << id;
        EXPECT_LT(px(id).bottom(), px(1064).top()) << id;
    }
    // Progress bars (in one place) and cancel buttons along the bottom edge.
    EXPECT_EQ(px(1064), px(1065));
    for (int id : {1064, 1057, 1058}) {
        EXPECT_GE(px(id).top(), 457 - 30) << id;
        EXPECT_GT(px(id).top(), px(1001).bottom()) << id;
    }
    // Minimise and close: 12 x 12 units at the top right.
    for (int id : {1034, 1035}) {
        const ControlTemplate& c = find(resources::mainCutDialogTemplate(), id);
        EXPECT_EQ(c.width, 12);
        EXPECT_EQ(c.height, 12);
        EXPECT_LT(px(id).top(), 10);
        EXPECT_GT(px(id).left(), 600);
    }
    EXPECT_LT(px(1034).left(), px(1035).left());
}

struct NoHandler : platform::DialogHandler {
    void onInit(platform::Window&) override {}
    void onCommand(int, int) override {}
    void onHorizontalScroll(int, int) override {}
    void onLeftButtonDown(const platform::MouseEvent&) override {}
    void onRightButtonDown(const platform::MouseEvent&) override {}
    void onLeftButtonUp(const platform::MouseEvent&) override {}
    void onMouseMove(const platform::MouseEvent&) override {}
    void onWheel(int, const platform::MouseEvent&) override {}
    void onPaint(platform::Canvas&) override {}
    void onClose() override {}
};

// Room the caption has inside its widget, in pixels.
int captionRoom(QWidget* w, ControlKind kind)
{
    if (kind == ControlKind::checkBox) {
        QStyleOptionButton option;
        option.initFrom(w);
        return w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w).width();
    }
    if (kind == ControlKind::staticText) return w->width();
    return w->width() - 8;   // buttons: a few pixels of face on each side
}

TEST(DialogTemplates, BuiltWidgetsSitWhereTheTablesSayAndTheirCaptionsFit)
{
    platform::qt::QtWindowSystem system;
    NoHandler handler;
    for (const DialogTemplate* d : {&resources::mainCutDialogTemplate(), &resources::setupDialogTemplate()}) {
        platform::qt::QtDialogWindow* window = system.createDialog(d->name, handler);
        ASSERT_NE(window, nullptr) << d->name;
        QWidget* dialog = window->widget();
        EXPECT_EQ(dialog->size(), platform::qt::pixelSize(*d));
        EXPECT_EQ(QFontInfo(dialog->font()).family(), "DejaVu Sans");
        EXPECT_EQ(dialog->font().pointSize(), 8);

        EXPECT_EQ(dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), d->controlCount);
        ASSERT_EQ(window->controls().size(), static_cast<size_t>(d->controlCount)) << d->name;
        for (int i = 0; i < d->controlCount; ++i) {
            const ControlTemplate& c = d->controls[i];
            QWidget* w = window->controls()[static_cast<size_t>(i)]->widget();
            ASSERT_EQ(w->parentWidget(), dialog);
            EXPECT_EQ(w->objectName(), QString::number(c.id));
            EXPECT_EQ(w->geometry(), pixelRect(c)) << c.id;
            const QString caption = QString::fromUtf8(c.caption);
            if (caption.isEmpty()) continue;
            const QFontMetrics metrics(w->font());
            EXPECT_LE(metrics.horizontalAdvance(caption), captionRoom(w, c.kind)) << d->name << " " << c.id << " " << c.caption;
            EXPECT_LE(metrics.height(), w->height()) << c.id;
            if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                EXPECT_EQ(button->text(), caption);
            }
            if (auto* label = qobject_cast<QLabel*>(w)) {
                EXPECT_EQ(label->text(), caption);
            }
        }
        if (d == &resources::mainCutDialogTemplate()) {
            auto* minimise = qobject_cast<QPushButton*>(window->control(1034)->widget());
            ASSERT_NE(minimise, nullptr);
            EXPECT_FALSE(minimise->icon().isNull());
            EXPECT_EQ(minimise->iconSize(), QSize(16, 16));
        }
    }
}

} // namespace
