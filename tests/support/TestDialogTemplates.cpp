#include "support/TestDialogTemplates.h"

#include <iterator>

namespace testsupport {
namespace {

using K = resources::ControlKind;
constexpr int none = resources::noControlId;

const resources::ControlTemplate mainControls[] = {
    {1001, K::console, "", "", 0, 0, 0, 0},
    {1034, K::bitmapButton, "", "BITMAP_MINIMZE", 0, 0, 12, 12},
    {1035, K::bitmapButton, "", "BITMAP_CLOSE", 0, 0, 12, 12},
    {1026, K::pushButton, "A propos ", "", 0, 0, 0, 0},
    {1070, K::pushButton, "Sauver sous", "", 0, 0, 0, 0},
    {1051, K::scrollBar, "", "", 0, 0, 0, 0},
    {1052, K::scrollBar, "", "", 0, 0, 0, 0},
    {1054, K::pushButton, "Nouvelle Source PVA", "", 0, 0, 0, 0},
    {1055, K::pushButton, "Add ", "", 0, 0, 0, 0},
    {1027, K::pushButton, "Setup", "", 0, 0, 0, 0},
    {1056, K::pushButton, "S PVA", "", 0, 0, 0, 0},
    {1064, K::progressBar, "", "", 0, 0, 0, 0},
    {1057, K::pushButton, "Annuler Scan PVA", "", 0, 0, 0, 0},
    {1067, K::staticText, "", "", 0, 0, 0, 0},
    {1068, K::staticText, "", "", 0, 0, 0, 0},
    {1069, K::pushButton, "Effacer", "", 0, 0, 0, 0},
    {1065, K::progressBar, "", "", 0, 0, 0, 0},
    {1058, K::pushButton, "Annuler Sauver PVA", "", 0, 0, 0, 0},
    {1071, K::pushButton, "Sauver", "", 0, 0, 0, 0},
    {1029, K::pushButton, "<", "", 0, 0, 0, 0},
    {1030, K::pushButton, ">", "", 0, 0, 0, 0},
    {1072, K::pushButton, "Défaire", "", 0, 0, 0, 0},
    {1073, K::pushButton, "Refaire", "", 0, 0, 0, 0},
    {1059, K::pushButton, "S MPG", "", 0, 0, 0, 0},
    {1020, K::pushButton, "Ouvrir lecteur PVA", "", 0, 0, 0, 0},
    {1080, K::bitmapButton, ">", "", 0, 0, 0, 0},
    {1031, K::bitmapButton, "||>", "", 0, 0, 0, 0},
    {1032, K::bitmapButton, ">>", "", 0, 0, 0, 0},
    {1033, K::bitmapButton, "|||>", "", 0, 0, 0, 0},
    {1036, K::bitmapButton, ">>>", "", 0, 0, 0, 0},
    {1037, K::bitmapButton, "|>", "", 0, 0, 0, 0},
    {1038, K::bitmapButton, "PAUSE", "", 0, 0, 0, 0},
    {1060, K::pushButton, "Inserer", "", 0, 0, 0, 0},
    {1081, K::pushButton, "50%", "", 0, 0, 0, 0},
    {1082, K::pushButton, "25%", "", 0, 0, 0, 0},
    {1022, K::pushButton, "Max", "", 0, 0, 0, 0},
    {1083, K::pushLikeCheckBox, "OnTop", "", 0, 0, 0, 0},
    {1023, K::pushButton, "Cacher", "", 0, 0, 0, 0},
    {1024, K::pushButton, "Montrer", "", 0, 0, 0, 0},
    {none, K::staticText, "Sélection : Clic G=Pos de Début  et Clic D=Pos de Fin", "", 0, 0, 0, 0},
    {1061, K::pushButton, "Redémarer Serveur", "", 0, 0, 0, 0},
    {1074, K::pushButton, "Tout éffacer", "", 0, 0, 0, 0},
    {1099, K::trackbar, "", "", 0, 0, 0, 0},
    {1075, K::pushButton, "Sauver Sélection", "", 0, 0, 0, 0},
    {1084, K::pushButton, "100%", "", 0, 0, 0, 0},
    {1085, K::pushButton, "75%", "", 0, 0, 0, 0},
};

const resources::ControlTemplate setupControls[] = {
    {1038, K::picture, "", "BITMAP_MAIN", 0, 0, 0, 0},
    {1001, K::pushButton, "OK", "", 0, 0, 0, 0},
    {1002, K::pushButton, "Annuler", "", 0, 0, 0, 0},
    {1003, K::pushButton, "SAUVER OPTIONS ", "", 0, 0, 0, 0},
    {none, K::staticText, "Couper sur chaque Frame, sans intelligence :", "", 0, 0, 0, 0},
    {1055, K::checkBox, "Couper sur toutes I, P ou B Frames", "", 0, 0, 0, 0},
    {1058, K::checkBox, "Couper sur I Frames (GOP) seulement", "", 0, 0, 0, 0},
    {1059, K::checkBox, "Copier seulement les Paquets Audio complets", "", 0, 0, 0, 0},
    {1060, K::checkBox, "Ajoutez ensuite l' I Frame aux bords de coupe ", "", 0, 0, 0, 0},
    {1061, K::checkBox, "Calculer nouvelle durée PTS pour le nouveau fichier pva ", "", 0, 0, 0, 0},
    {none, K::staticText, "Offset Audio (en ms) :", "", 0, 0, 0, 0},
    {1062, K::edit, "", "", 0, 0, 0, 0},
    {none, K::staticText, "Offset Audio pour l'assemblage PVA (en ms) : ", "", 0, 0, 0, 0},
    {1065, K::edit, "", "", 0, 0, 0, 0},
    {none, K::staticText, "Réglages à 0 pour Pvastrumento ", "", 0, 0, 0, 0},
    {1063, K::checkBox, "Découper le nouveau fichier Pva en fichier de :", "", 0, 0, 0, 0},
    {none, K::staticText, "Taille du fichier (en MB) :", "", 0, 0, 0, 0},
    {1064, K::edit, "", "", 0, 0, 0, 0},
    {1066, K::checkBox, "Ne pas sauver l'Audio ", "", 0, 0, 0, 0},
    {1067, K::checkBox, "Sauver élémentaire mpg2 (pas AVHeaders)", "", 0, 0, 0, 0},
    {1068, K::checkBox, "Scan rapide PVA ", "", 0, 0, 0, 0},
    {1056, K::groupBox, "", "", 0, 0, 0, 0},
    {1057, K::groupBox, "", "", 0, 0, 0, 0},
    {none, K::groupBox, "", "", 0, 0, 0, 0},
    {none, K::groupBox, "", "", 0, 0, 0, 0},
};

const resources::DialogTemplate mainDialog{"MAINCUTDIALOG", 438, 281, mainControls,
                                           static_cast<int>(std::size(mainControls))};
const resources::DialogTemplate setupDialog{"PVADIALOG", 259, 257, setupControls,
                                            static_cast<int>(std::size(setupControls))};

} // namespace

const resources::DialogTemplate& mainDialogForTests() { return mainDialog; }
const resources::DialogTemplate& setupDialogForTests() { return setupDialog; }

platform::fake::FakeDialogSpec fakeDialogSpec(const resources::DialogTemplate& t)
{
    using Spec = platform::fake::FakeDialogSpec;
    Spec spec;
    spec.name = t.name;
    spec.client = {resources::dluToPixelsX(t.width), resources::dluToPixelsY(t.height)};
    for (int k = 0; k < t.controlCount; ++k) {
        const resources::ControlTemplate& c = t.controls[k];
        if (c.id == none) continue;
        Spec::Kind kind = Spec::Kind::other;
        if (c.kind == K::pushButton || c.kind == K::bitmapButton) kind = Spec::Kind::button;
        if (c.kind == K::checkBox || c.kind == K::pushLikeCheckBox) kind = Spec::Kind::checkBox;
        if (c.kind == K::scrollBar) kind = Spec::Kind::scrollBar;
        spec.controls.push_back({c.id, kind, c.caption});
    }
    return spec;
}

} // namespace testsupport
