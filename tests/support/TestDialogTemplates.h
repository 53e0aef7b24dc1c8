#pragma once
// Dialog templates as the fake window system builds them.
#include "platform/fake/FakeWindow.h"
#include "resources/DialogTemplates.h"

namespace testsupport {

// The controls with an id, and the client size of the template's dialog units.
platform::fake::FakeDialogLayout fakeDialogLayout(const resources::DialogTemplate& t);

} // namespace testsupport
