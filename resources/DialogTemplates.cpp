#include "resources/DialogTemplates.h"

#include <cstring>
#include <iterator>

namespace resources {
namespace {

using K = ControlKind;
constexpr int none = noControlId;

// The main window, 657 x 457 pixels. The two panes are painted, not controls:
// the source pane covers y 61.5 to 105.8 units (pixels 100 to 172) and the list
// pane y 140.3 to 183.4 units (pixels 228 to 298), x 9.3 to 428.7 units; nothing
// may sit there. From the top: the perforated strip with minimise and close; the
// source commands; the speed slider with the viewer buttons; the source info
// line; the source pane and its scroll bar; the list's edit buttons; the list
// info line; the list pane and its scroll bar; the save buttons; the console;
// progress and cancel along the bottom edge. Hidden controls keep places of
// their own beside the visible ones of their kind.
constexpr ControlTemplate mainControls[] = {
    {1001, K::console, "", "", 9, 210, 419, 53},
    {1034, K::bitmapButton, "", "BITMAP_MINIMZE", 410, 3, 12, 12},
    {1035, K::bitmapButton, "", "BITMAP_CLOSE", 424, 3, 12, 12},
    {1026, K::pushButton, "A propos ", "", 382, 16, 46, 13},
    {1070, K::pushButton, "Sauver sous", "", 47, 196, 56, 12},
    {1051, K::scrollBar, "", "", 9, 107, 419, 9},
    {1052, K::scrollBar, "", "", 9, 184, 419, 9},
    {1054, K::pushButton, "Nouvelle Source PVA", "", 9, 16, 86, 13},
    {1055, K::pushButton, "Add ", "", 9, 118, 30, 11},
    {1027, K::pushButton, "Setup", "", 344, 16, 34, 13},
    {1056, K::pushButton, "S PVA", "", 139, 16, 32, 13},
    {1064, K::progressBar, "", "", 9, 267, 241, 11},
    {1057, K::pushButton, "Annuler Scan PVA", "", 254, 266, 84, 13},
    {1067, K::staticText, "", "", 9, 50, 419, 10},
    {1068, K::staticText, "", "", 9, 130, 214, 10},
    {1069, K::pushButton, "Effacer", "", 83, 118, 36, 11},
    {1065, K::progressBar, "", "", 9, 267, 241, 11},
    {1058, K::pushButton, "Annuler Sauver PVA", "", 342, 266, 86, 13},
    {1071, K::pushButton, "Sauver", "", 9, 196, 36, 12},
    {1029, K::pushButton, "<", "", 99, 16, 16, 13},
    {1030, K::pushButton, ">", "", 117, 16, 16, 13},
    {1072, K::pushButton, "Défaire", "", 181, 118, 38, 11},
    {1073, K::pushButton, "Refaire", "", 221, 118, 38, 11},
    {1059, K::pushButton, "S MPG", "", 173, 16, 34, 13},
    {1020, K::pushButton, "Ouvrir lecteur PVA", "", 211, 16, 78, 13},
    {1080, K::bitmapButton, ">", "", 268, 32, 16, 13},
    {1031, K::bitmapButton, "||>", "", 286, 32, 20, 13},
    {1032, K::bitmapButton, ">>", "", 308, 32, 20, 13},
    {1033, K::bitmapButton, "|||>", "", 330, 32, 22, 13},
    {1036, K::bitmapButton, ">>>", "", 354, 32, 28, 13},
    {1037, K::bitmapButton, "|>", "", 384, 32, 18, 13},
    {1038, K::bitmapButton, "PAUSE", "", 293, 16, 32, 13},
    {1060, K::pushButton, "Inserer", "", 41, 118, 36, 11},
    {1081, K::pushButton, "50%", "", 118, 32, 24, 13},
    {1082, K::pushButton, "25%", "", 92, 32, 24, 13},
    {1022, K::pushButton, "Max", "", 202, 32, 24, 13},
    {1083, K::pushLikeCheckBox, "OnTop", "", 228, 32, 32, 13},
    {1023, K::pushButton, "Cacher", "", 221, 196, 36, 12},
    {1024, K::pushButton, "Montrer", "", 259, 196, 38, 12},
    {none, K::staticText, "Sélection : Clic G=Pos de Début  et Clic D=Pos de Fin", "", 228, 130, 200, 10},
    {1061, K::pushButton, "Redémarer Serveur", "", 301, 196, 82, 12},
    {1074, K::pushButton, "Tout éffacer", "", 121, 118, 54, 11},
    {1099, K::trackbar, "", "", 9, 32, 80, 13},
    {1075, K::pushButton, "Sauver Sélection", "", 105, 196, 72, 12},
    {1084, K::pushButton, "100%", "", 170, 32, 30, 13},
    {1085, K::pushButton, "75%", "", 144, 32, 24, 13},
};

// The setup dialog, 389 x 418 pixels: the skin picture under everything, then
// four frames from top to bottom (cut on every picture; cut on I pictures with
// the assembly options and both offsets; splitting; saving and scanning) and
// the three buttons. The last frame also holds the check after a save, right of
// the fast scan.
constexpr ControlTemplate setupControls[] = {
    {1038, K::picture, "", "BITMAP_MAIN", 0, 0, 259, 257},
    {1001, K::pushButton, "OK", "", 12, 234, 50, 14},
    {1002, K::pushButton, "Annuler", "", 66, 234, 50, 14},
    {1003, K::pushButton, "SAUVER OPTIONS ", "", 173, 234, 80, 14},
    {none, K::staticText, "Couper sur chaque Frame, sans intelligence :", "", 12, 22, 172, 9},
    {1055, K::checkBox, "Couper sur toutes I, P ou B Frames", "", 12, 33, 150, 10},
    {1058, K::checkBox, "Couper sur I Frames (GOP) seulement", "", 12, 55, 160, 10},
    {1059, K::checkBox, "Copier seulement les Paquets Audio complets", "", 12, 67, 190, 10},
    {1060, K::checkBox, "Ajoutez ensuite l' I Frame aux bords de coupe ", "", 12, 79, 190, 10},
    {1061, K::checkBox, "Calculer nouvelle durée PTS pour le nouveau fichier pva ", "", 12, 91, 230, 10},
    {none, K::staticText, "Offset Audio (en ms) :", "", 12, 106, 90, 9},
    {1062, K::edit, "", "", 190, 104, 40, 12},
    {none, K::staticText, "Offset Audio pour l'assemblage PVA (en ms) : ", "", 12, 120, 174, 9},
    {1065, K::edit, "", "", 190, 118, 40, 12},
    {none, K::staticText, "Réglages à 0 pour Pvastrumento ", "", 104, 132, 126, 9},
    {1063, K::checkBox, "Découper le nouveau fichier Pva en fichier de :", "", 12, 154, 194, 10},
    {none, K::staticText, "Taille du fichier (en MB) :", "", 24, 168, 94, 9},
    {1064, K::edit, "", "", 190, 166, 40, 12},
    {1066, K::checkBox, "Ne pas sauver l'Audio ", "", 12, 189, 104, 10},
    {1067, K::checkBox, "Sauver élémentaire mpg2 (pas AVHeaders)", "", 12, 200, 180, 10},
    {1068, K::checkBox, "Scan rapide PVA ", "", 12, 211, 84, 10},
    {1056, K::groupBox, "", "", 6, 16, 247, 30},
    {1057, K::groupBox, "", "", 6, 49, 247, 96},
    {none, K::groupBox, "", "", 6, 148, 247, 32},
    {none, K::groupBox, "", "", 6, 183, 247, 42},
    {1069, K::checkBox, "Raccords propres", "", 12, 132, 88, 10},
    {1070, K::checkBox, "Vérifier après sauvegarde", "", 104, 211, 140, 10},
    {1071, K::checkBox, "Réencoder aux coupes", "", 122, 189, 100, 10},
};

constexpr DialogTemplate mainCutDialog{"MAINCUTDIALOG", 438, 281, mainControls,
                                       static_cast<int>(std::size(mainControls))};
constexpr DialogTemplate setupDialog{"PVADIALOG", 259, 257, setupControls,
                                     static_cast<int>(std::size(setupControls))};

} // namespace

const DialogTemplate& mainCutDialogTemplate() { return mainCutDialog; }

const DialogTemplate& setupDialogTemplate() { return setupDialog; }

const DialogTemplate* findDialogTemplate(const char* name)
{
    if (!name) return nullptr;
    if (std::strcmp(name, mainCutDialog.name) == 0) return &mainCutDialog;
    if (std::strcmp(name, setupDialog.name) == 0) return &setupDialog;
    return nullptr;
}

} // namespace resources
