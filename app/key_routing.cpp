#include "app/key_routing.h"

#include <commctrl.h>

namespace {

enum class ControlKind { kOther, kText, kList, kTree };

ControlKind kindOf(HWND control) {
    wchar_t name[16];
    if (!control || !GetClassNameW(control, name, 16)) return ControlKind::kOther;
    if (lstrcmpiW(name, L"Edit") == 0) {
        HWND parent = GetParent(control);  // the text part of an editable combo box
        return parent && kindOf(parent) == ControlKind::kList ? ControlKind::kList : ControlKind::kText;
    }
    if (lstrcmpiW(name, L"ComboBox") == 0) return ControlKind::kList;
    if (lstrcmpiW(name, WC_TREEVIEWW) == 0) return ControlKind::kTree;
    return ControlKind::kOther;
}

bool isMoveKey(WPARAM key) {
    return key == VK_HOME || key == VK_END || key == VK_PRIOR || key == VK_NEXT || key == VK_LEFT ||
           key == VK_RIGHT || key == VK_UP || key == VK_DOWN;
}

bool textBoxUsesKey(WPARAM key, bool control) {
    if (isMoveKey(key)) return true;
    if (control) return key == 'A' || key == 'C' || key == 'X' || key == 'V' || key == 'Z' || key == VK_INSERT;
    // Typing, deleting and the number pad, but not Esc, Tab, Enter or the function keys.
    return key == VK_SPACE || key == VK_BACK || key == VK_DELETE || key == VK_INSERT ||
           (key >= '0' && key <= 'Z') || (key >= VK_NUMPAD0 && key <= VK_DIVIDE) || (key >= VK_OEM_1 && key <= VK_OEM_102);
}

bool pressed(int key) {
    return GetKeyState(key) < 0;
}

}  // namespace

bool focusedControlTakesKey(HWND focus, const MSG* message) {
    if (message->message != WM_KEYDOWN && message->message != WM_SYSKEYDOWN) return false;
    if (message->message == WM_SYSKEYDOWN || pressed(VK_MENU)) return false;  // Alt keys stay the menu's
    WPARAM key = message->wParam;
    switch (kindOf(focus)) {
    case ControlKind::kList: {
        HWND list = kindOf(GetParent(focus)) == ControlKind::kList ? GetParent(focus) : focus;
        return SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) != 0;
    }
    case ControlKind::kText: return textBoxUsesKey(key, pressed(VK_CONTROL));
    case ControlKind::kTree: return !pressed(VK_CONTROL) && (isMoveKey(key) || key == VK_SPACE);
    default: return false;
    }
}

bool translateWindowMessage(HWND dialog, HACCEL activeAccelerators, MSG* message) {
    bool forDialog = message->hwnd == dialog || IsChild(dialog, message->hwnd);
    if (activeAccelerators && !forDialog) return false;
    HWND focus = GetFocus();
    bool controlTakes = focusedControlTakesKey(focus, message);
    if (activeAccelerators && !controlTakes && TranslateAcceleratorW(dialog, activeAccelerators, message))
        return true;
    // Not every system's edit control selects everything on Ctrl+A by itself.
    if (controlTakes && message->message == WM_KEYDOWN && message->wParam == 'A' && kindOf(focus) == ControlKind::kText) {
        SendMessageW(focus, EM_SETSEL, 0, -1);
        return true;
    }
    return IsDialogMessageW(dialog, message);
}
