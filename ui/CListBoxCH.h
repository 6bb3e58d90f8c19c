#pragma once

// The Midi Settings dialog's input list: an owner-drawn list box whose items
// show a status icon beside the device name. It draws its items itself with
// our selection colours and keeps its own record of the chosen item, which
// follows the mouse on button release and the arrow keys.
//
// The owner (the dialog) hands it WM_MEASUREITEM, WM_DRAWITEM and
// WM_VKEYTOITEM for its control; the button release it sees itself.

#include "MidiDeviceSettings.h"
#include "MidiSettingsLogic.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CListBoxCH {
public:
    static constexpr COLORREF kSelectedBackground = RGB(51, 153, 255);
    static constexpr COLORREF kNormalBackground = RGB(255, 255, 255);
    static constexpr COLORREF kSelectedText = RGB(255, 255, 255);
    static constexpr int kItemHeight = 18;
    static constexpr int kItemWidth = 100;
    static constexpr int kIconSize = 16;
    static constexpr int kMaxTextLength = 255;

    CListBoxCH() = default;
    ~CListBoxCH();
    CListBoxCH(const CListBoxCH&) = delete;
    CListBoxCH& operator=(const CListBoxCH&) = delete;

    // Takes over the list box control; false when there is none.
    bool attach(HWND listBox);
    HWND handle() const { return list; }

    // The new item's index.
    int addItem(const std::string& text, HICON icon, MidiDeviceSettings* record);
    void setItemIcon(int index, HICON icon);
    HICON itemIcon(int index) const;
    int itemCount() const { return static_cast<int>(items.size()); }
    // The driver record of an item; none when there is no such item.
    MidiDeviceSettings* recordAt(int index) const;
    int trackedSelection() const { return tracker.selected(); }
    // The list box chose an item by a key of its own (Home, End, Page):
    // the tracked selection follows it.
    void followListBoxSelection();

    void measureItem(MEASUREITEMSTRUCT& measure) const;
    void drawItem(const DRAWITEMSTRUCT& draw) const;
    // The answer to WM_VKEYTOITEM: an item for the list box to select, or
    // -1 (its own handling) or -2 (handled).
    int keyToItem(UINT virtualKey);

private:
    struct Item {
        std::string text;
        HICON icon;
        MidiDeviceSettings* record;
    };

    static LRESULT CALLBACK subclassProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    void onButtonRelease(LPARAM point);
    void moveTracking(int index);
    void redrawItem(int index) const;
    void notifyOwnerOfSelection() const;

    HWND list = nullptr;
    std::vector<std::unique_ptr<Item>> items;
    ListSelectionTracker tracker;
    bool sunkenEdge = false; // items are drawn without a sunken frame
};
