#include "CListBoxCH.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kSubclassId = 0x4B53; // any number unique on this control
constexpr int kTextIndent = 18;
constexpr int kTextOffset = 2;

} // namespace

CListBoxCH::~CListBoxCH() {
    if (list != nullptr)
        RemoveWindowSubclass(list, subclassProcedure, kSubclassId);
}

bool CListBoxCH::attach(HWND listBox) {
    if (listBox == nullptr)
        return false;
    list = listBox;
    SetWindowSubclass(list, subclassProcedure, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
    return true;
}

int CListBoxCH::addItem(const std::string& text, HICON icon, MidiDeviceSettings* record) {
    items.push_back(std::make_unique<Item>(Item{text.substr(0, kMaxTextLength), icon, record}));
    // Without strings, the list box keeps the value as the item's data.
    const LRESULT index =
        SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(items.back().get()));
    if (index < 0) {
        items.pop_back();
        return -1;
    }
    return static_cast<int>(index);
}

void CListBoxCH::setItemIcon(int index, HICON icon) {
    if (index < 0 || index >= itemCount())
        return;
    items[static_cast<size_t>(index)]->icon = icon;
    redrawItem(index);
    redrawItem(tracker.selected());
}

HICON CListBoxCH::itemIcon(int index) const {
    if (index < 0 || index >= itemCount())
        return nullptr;
    return items[static_cast<size_t>(index)]->icon;
}

MidiDeviceSettings* CListBoxCH::recordAt(int index) const {
    if (index < 0 || index >= itemCount())
        return nullptr;
    return items[static_cast<size_t>(index)]->record;
}

void CListBoxCH::followListBoxSelection() {
    const auto chosen = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
    moveTracking(chosen < 0 ? -1 : chosen);
}

void CListBoxCH::measureItem(MEASUREITEMSTRUCT& measure) const {
    measure.itemHeight = kItemHeight;
    measure.itemWidth = kItemWidth;
}

void CListBoxCH::drawItem(const DRAWITEMSTRUCT& draw) const {
    const auto* item = reinterpret_cast<const Item*>(draw.itemData);
    if (item == nullptr || draw.itemID == static_cast<UINT>(-1))
        return;
    const bool selected = (draw.itemState & ODS_SELECTED) != 0;
    const bool whole = (draw.itemAction & ODA_DRAWENTIRE) != 0;
    const bool selectionChanged = (draw.itemAction & ODA_SELECT) != 0;
    if (!whole && !selectionChanged)
        return; // focus changes draw nothing extra
    HDC dc = draw.hDC;
    RECT area = draw.rcItem;
    if (selected) {
        HBRUSH frame = CreateSolidBrush(RGB(0, 0, 0));
        FrameRect(dc, &area, frame);
        DeleteObject(frame);
        RECT inner = area;
        InflateRect(&inner, -1, -1);
        HBRUSH fill = CreateSolidBrush(kSelectedBackground);
        FillRect(dc, &inner, fill);
        DeleteObject(fill);
    } else {
        HBRUSH fill = CreateSolidBrush(kNormalBackground);
        FillRect(dc, &area, fill);
        DeleteObject(fill);
    }
    if (sunkenEdge)
        DrawEdge(dc, &area, EDGE_SUNKEN, BF_RECT);
    DrawIconEx(dc, area.left + 1, area.top + 1, item->icon, kIconSize, kIconSize, 0, nullptr,
               DI_NORMAL);
    RECT text = area;
    text.left += kTextIndent;
    OffsetRect(&text, kTextOffset, kTextOffset);
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = SetTextColor(dc, selected ? kSelectedText : RGB(0, 0, 0));
    DrawTextA(dc, item->text.c_str(), -1, &text, DT_SINGLELINE | DT_NOPREFIX);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
}

int CListBoxCH::keyToItem(UINT virtualKey) {
    if (virtualKey != VK_UP && virtualKey != VK_DOWN)
        return -1;
    const int index =
        tracker.afterKey(virtualKey == VK_UP ? ListKey::up : ListKey::down, itemCount());
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    moveTracking(index);
    if (index >= 0)
        return index;
    // The list box's own handling would select the first item again; no
    // item stays chosen, and the owner hears of it as of any choice.
    notifyOwnerOfSelection();
    return -2;
}

LRESULT CALLBACK CListBoxCH::subclassProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    if (message == WM_LBUTTONUP)
        reinterpret_cast<CListBoxCH*>(self)->onButtonRelease(lParam);
    return DefSubclassProc(window, message, wParam, lParam);
}

// The item under the pointer becomes the choice; a release below the last
// item keeps what the list box chose on the press. A release that ends a
// press elsewhere (dragged onto the list) chooses nothing.
void CListBoxCH::onButtonRelease(LPARAM point) {
    if (GetCapture() != list)
        return;
    const auto found = static_cast<DWORD>(SendMessageA(list, LB_ITEMFROMPOINT, 0, point));
    if (HIWORD(found) != 0) {
        followListBoxSelection();
        return;
    }
    const int index = LOWORD(found);
    moveTracking(index < itemCount() ? index : -1);
}

void CListBoxCH::moveTracking(int index) {
    for (int item : tracker.moveTo(index))
        redrawItem(item);
}

void CListBoxCH::redrawItem(int index) const {
    RECT area;
    if (index < 0 || SendMessageA(list, LB_GETITEMRECT, static_cast<WPARAM>(index),
                                  reinterpret_cast<LPARAM>(&area)) == LB_ERR)
        return;
    RedrawWindow(list, &area, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void CListBoxCH::notifyOwnerOfSelection() const {
    const auto id = static_cast<WORD>(GetDlgCtrlID(list));
    SendMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
}
