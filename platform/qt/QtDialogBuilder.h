#pragma once
// Turns a dialog template into widgets.
#include "platform/qt/QtControls.h"
#include "resources/DialogTemplates.h"

#include <QRect>
#include <QSize>

#include <memory>
#include <vector>

namespace platform::qt {

// Where a control of a template lies in pixels. The edges are converted, not the
// width and height, so that controls that touch in dialog units touch in pixels.
QRect pixelRect(const resources::ControlTemplate& control);
QSize pixelSize(const resources::DialogTemplate& dialog);

// Creates every control of the template as a child widget of dialog, in template
// order (which is the tab order); pictures and group boxes go under the rest.
std::vector<std::unique_ptr<QtControl>> buildDialogControls(const resources::DialogTemplate& dialog, QWidget* parent);

} // namespace platform::qt
