#pragma once
// The controls of the two dialogs (ids, kinds, captions) for windows built by the
// fake window system; placement does not matter there.
#include "platform/fake/FakeWindow.h"
#include "resources/DialogTemplates.h"

namespace testsupport {

const resources::DialogTemplate& mainDialogForTests();
const resources::DialogTemplate& setupDialogForTests();

// A dialog template as the fake window system builds it: controls with an id,
// the client size of its dialog units.
platform::fake::FakeDialogSpec fakeDialogSpec(const resources::DialogTemplate& t);

} // namespace testsupport
