#include "support/TestDialogTemplates.h"

namespace testsupport {

platform::fake::FakeDialogSpec fakeDialogSpec(const resources::DialogTemplate& t)
{
    using Spec = platform::fake::FakeDialogSpec;
    using K = resources::ControlKind;
    Spec spec;
    spec.name = t.name;
    spec.client = {resources::dluToPixelsX(t.width), resources::dluToPixelsY(t.height)};
    for (int k = 0; k < t.controlCount; ++k) {
        const resources::ControlTemplate& c = t.controls[k];
        if (c.id == resources::noControlId) continue;
        Spec::Kind kind = Spec::Kind::other;
        if (c.kind == K::pushButton || c.kind == K::bitmapButton) kind = Spec::Kind::button;
        if (c.kind == K::checkBox || c.kind == K::pushLikeCheckBox) kind = Spec::Kind::checkBox;
        if (c.kind == K::scrollBar) kind = Spec::Kind::scrollBar;
        spec.controls.push_back({c.id, kind, c.caption});
    }
    return spec;
}

} // namespace testsupport
