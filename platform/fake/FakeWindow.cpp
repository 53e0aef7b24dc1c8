#include "platform/fake/FakeWindow.h"

#include <algorithm>
#include <stdexcept>

namespace platform::fake {

using Kind = FakeDialogLayout::Kind;

FakeWindow::FakeWindow(const FakeDialogLayout& s, DialogHandler& h, uint64_t windowId)
    : layout(s), handler(h), id(windowId), client(s.client)
{
    for (const FakeDialogLayout::Item& c : s.controls) {
        if (c.kind == Kind::scrollBar) {
            bars[c.id] = std::make_unique<FakeScrollBar>();
            continue;
        }
        auto control = std::make_unique<FakeControl>();
        control->visible = true;
        control->text = c.caption;
        controls[c.id] = std::move(control);
        kinds[c.id] = c.kind;
    }
}

Control* FakeWindow::child(int childId)
{
    auto it = controls.find(childId);
    return it == controls.end() ? nullptr : it->second.get();
}

ScrollBar* FakeWindow::scrollBar(int barId)
{
    auto it = bars.find(barId);
    return it == bars.end() ? nullptr : it->second.get();
}

FakeControl& FakeWindow::control(int controlId)
{
    auto it = controls.find(controlId);
    if (it == controls.end()) throw std::out_of_range("no control " + std::to_string(controlId));
    return *it->second;
}

FakeScrollBar& FakeWindow::bar(int barId)
{
    auto it = bars.find(barId);
    if (it == bars.end()) throw std::out_of_range("no scroll bar " + std::to_string(barId));
    return *it->second;
}

bool FakeWindow::click(int controlId)
{
    FakeControl& c = control(controlId);
    if (destroyed || !c.enabled || !c.visible) return false;
    if (kinds[controlId] == Kind::checkBox) c.checked = !c.checked;
    handler.onCommand(controlId, commandClicked);
    return true;
}

bool FakeWindow::type(int controlId, const std::string& value)
{
    FakeControl& c = control(controlId);
    if (destroyed || !c.enabled || !c.visible) return false;
    c.text = value;
    handler.onCommand(controlId, commandEditChanged);
    return true;
}

bool FakeWindow::scroll(int controlId, int code)
{
    if (destroyed) return false;
    handler.onHorizontalScroll(controlId, code);
    return true;
}

bool FakeWindow::slide(int controlId, int position)
{
    FakeControl& c = control(controlId);
    if (destroyed || !c.enabled) return false;
    c.position = position;
    handler.onHorizontalScroll(controlId, scrollThumbTrack);
    return true;
}

MouseEvent FakeWindow::at(Point p, bool left, bool right, bool shift)
{
    cursorClient = p;
    cursorScreen = {topLeft.x + frame.width + p.x, topLeft.y + frame.height + p.y};
    MouseEvent e;
    e.client = p;
    e.leftButton = left;
    e.rightButton = right;
    e.shift = shift;
    return e;
}

void FakeWindow::leftDown(Point p, bool shift)
{
    if (!destroyed) handler.onLeftButtonDown(at(p, true, false, shift));
}

void FakeWindow::rightDown(Point p)
{
    if (!destroyed) handler.onRightButtonDown(at(p, false, true, false));
}

void FakeWindow::moveMouse(Point p, bool left, bool shift)
{
    if (!destroyed) handler.onMouseMove(at(p, left, false, shift));
}

void FakeWindow::leftUp(Point p)
{
    if (!destroyed) handler.onLeftButtonUp(at(p, false, false, false));
}

void FakeWindow::wheel(Point p, int delta)
{
    if (!destroyed) handler.onWheel(delta, at(p, false, false, false));
}

FakeCanvas FakeWindow::paint()
{
    FakeCanvas canvas;
    if (!destroyed) handler.onPaint(canvas);
    return canvas;
}

std::vector<FakeWindow::Invalidation> FakeWindow::takeInvalidations()
{
    std::vector<Invalidation> out;
    out.swap(invalidations);
    return out;
}

Window* FakeWindowSystem::createDialog(const char* templateName, DialogHandler& handler)
{
    auto it = dialogs.find(templateName);
    if (it == dialogs.end()) return nullptr;
    if (failCreations > 0) {
        --failCreations;
        return nullptr;
    }
    windows.push_back(std::make_unique<FakeWindow>(it->second, handler, 0x1000u + static_cast<uint64_t>(++created)));
    FakeWindow& w = *windows.back();
    handler.onInit(w);
    return &w;
}

FakeWindow* FakeWindowSystem::find(const std::string& templateName)
{
    for (auto it = windows.rbegin(); it != windows.rend(); ++it)
        if ((*it)->layout.name == templateName && !(*it)->destroyed) return it->get();
    return nullptr;
}

void FakeMessageQueue::postAt(uint32_t at, std::function<void()> deliver)
{
    auto it = std::upper_bound(pending_.begin(), pending_.end(), at,
                               [](uint32_t t, const Pending& p) { return t < p.at; });
    pending_.insert(it, Pending{at, std::move(deliver)});
}

bool FakeMessageQueue::dispatchWaiting()
{
    bool any = false;
    while (!quit_ && inputWaiting()) {
        Pending p = std::move(pending_.front());
        pending_.pop_front();
        ++dispatched;
        any = true;
        p.deliver();
    }
    return any;
}

void FakeMessageQueue::waitForMessage()
{
    ++waits;
    if (pending_.empty()) {
        postQuit(idleQuitCode);
        return;
    }
    if (pending_.front().at > clock_.now) clock_.now = pending_.front().at;
    dispatchWaiting();
}

} // namespace platform::fake
