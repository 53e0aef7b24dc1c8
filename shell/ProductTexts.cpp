#include "shell/ProductTexts.h"

const char* const contactLine = "Contact: the README of the Orvane sources says where to report problems\n";
const char* const viewerCredit = "Preview: the viewer DVD2AVI_PVAVIEW shows the picture at the source cursor; ";
const char* const viewerSource =
    "it is built together with orvane and is looked for beside orvane, then on the PATH\n";
const char* const sizeNote = "note: pva files of 4GB and more can be cut\n";

const char* const aboutText =
    "ORVANE 3.50 cuts and joins PVA recordings.\n"
    "\n"
    "Load up to 16 source PVA files. In the upper pane a left click sets the start\n"
    "and a right click the end of a selection of cut units; add it to the end of\n"
    "the new PVA or insert it in front of the list position. Select entries in the\n"
    "lower pane to delete them; the last six edits can be undone and redone. Save\n"
    "writes the new PVA with its time stamps joined at the cuts and the audio kept\n"
    "whole, as one file or in parts of a set size. The options are in Setup.\n"
    "\n"
    "Orvane is provided as it is, without any warranty. It never changes a source\n"
    "file: keep your recordings until you have checked what you saved.\n";
