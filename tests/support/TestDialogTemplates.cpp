#include "support/TestDialogTemplates.h"

namespace testsupport {

platform::fake::FakeDialogLayout fakeDialogLayout(const resources::DialogTemplate& t)
{
    using Layout = platform::fake::FakeDialogLayout;
    using K = resources::ControlKind;
    Layout layout;
    layout.name = t.name;
    layout.client = {resources::dluToPixelsX(t.width), resources::dluToPixelsY(t.height)};
    for (int k = 0; k < t.controlCount; ++k) {
        const resources::ControlTemplate& c = t.controls[k];
        if (c.id == resources::noControlId) continue;
        Layout::Kind kind = Layout::Kind::other;
        if (c.kind == K::pushButton || c.kind == K::bitmapButton) kind = Layout::Kind::button;
        if (c.kind == K::checkBox || c.kind == K::pushLikeCheckBox) kind = Layout::Kind::checkBox;
        if (c.kind == K::scrollBar) kind = Layout::Kind::scrollBar;
        layout.controls.push_back({c.id, kind, c.caption});
    }
    return layout;
}

} // namespace testsupport
