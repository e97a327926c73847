#include "app/key_help.h"

#include <commctrl.h>

#include "app/command_table.h"
#include "app/dialog_template.h"

namespace {

constexpr int kListId = 100;

struct KeyName {
    WORD key;
    const wchar_t* name;
};

const KeyName kKeyNames[] = {
    {VK_ESCAPE, L"Esc"},   {VK_HOME, L"Home"},     {VK_END, L"End"},        {VK_PRIOR, L"PgUp"},
    {VK_NEXT, L"PgDn"},    {VK_LEFT, L"Left"},     {VK_RIGHT, L"Right"},    {VK_UP, L"Up"},
    {VK_DOWN, L"Down"},    {VK_DELETE, L"Del"},    {VK_INSERT, L"Ins"},     {VK_SPACE, L"Space"},
    {VK_RETURN, L"Enter"}, {VK_TAB, L"Tab"},       {VK_BACK, L"Backspace"}, {VK_OEM_PLUS, L"+"},
    {VK_OEM_MINUS, L"-"},  {VK_ADD, L"Num +"},     {VK_SUBTRACT, L"Num -"}, {VK_OEM_COMMA, L","},
    {VK_OEM_PERIOD, L"."},
};

// What the view does with the mouse itself.
const KeyName kMouseActions[] = {
    {0, L"Left button drag\tTurn the model"},
    {0, L"Right button drag\tMove the model"},
    {0, L"Wheel\tZoom in and out"},
    {0, L"Left click while measuring\tPick a point"},
    {0, L"Ctrl+Wheel\tMove the section (with Shift: ten steps)"},
};

struct Writer {
    wchar_t* out;
    int room;  // units left, the terminator's included
    void add(const wchar_t* text, int count = -1) {
        for (int k = 0; (count < 0 || k < count) && text[k] && room > 1; ++k, --room) *out++ = text[k];
        *out = 0;
    }
};

void writeKeyName(Writer* writer, const ACCEL& accel) {
    if (accel.fVirt & FCONTROL) writer->add(L"Ctrl+");
    if (accel.fVirt & FSHIFT) writer->add(L"Shift+");
    if (accel.fVirt & FALT) writer->add(L"Alt+");
    wchar_t name[32] = {};
    WORD key = accel.key;
    if (!(accel.fVirt & FVIRTKEY) || (key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9')) {
        name[0] = static_cast<wchar_t>(key);
    } else if (key >= VK_F1 && key <= VK_F24) {
        wsprintfW(name, L"F%d", key - VK_F1 + 1);
    } else {
        for (const KeyName& known : kKeyNames)
            if (known.key == key) lstrcpynW(name, known.name, 32);
        if (!name[0]) GetKeyNameTextW(static_cast<LONG>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC) << 16), name, 32);
    }
    writer->add(name);
}

// "&Open …\tCtrl+O" says "Open": no accelerator marks, key or trailing dots.
void writeMenuText(Writer* writer, const wchar_t* text) {
    int end = 0;
    while (text[end] && text[end] != L'\t') ++end;
    while (end > 0 && (text[end - 1] == L' ' || text[end - 1] == L'\u2026')) --end;
    for (int k = 0; k < end; ++k) {
        if (text[k] == L'&' && text[k + 1] != L'&') continue;
        if (text[k] == L'&') ++k;
        writer->add(text + k, 1);
    }
}

// "File > Open": where the command also is, in the menu's words; a command
// that only a key reaches has its own words.
void writeAction(Writer* writer, const CommandRow& row) {
    if (row.menuFlags & kNotInMenu) return writer->add(row.text);
    const wchar_t* menu = nullptr;
    const wchar_t* text = menuTextOf(row.command, &menu);
    if (!text) return writer->add(L"?");
    writeMenuText(writer, menu);
    writer->add(L" > ");
    writeMenuText(writer, text);
}

// The margins and the OK button's size, in the dialog's own units.
struct KeyHelpLayout {
    SIZE margin;
    RECT button;
};

KeyHelpLayout keyHelpLayout(HWND dialog) {
    KeyHelpLayout layout{{7, 7}, {0, 0, 50, 14}};
    RECT margin = {0, 0, layout.margin.cx, layout.margin.cy};
    MapDialogRect(dialog, &margin);
    layout.margin = SIZE{margin.right, margin.bottom};
    MapDialogRect(dialog, &layout.button);
    return layout;
}

// OK in the lower right corner, the list filling the rest.
void placeKeyHelpControls(HWND dialog) {
    RECT client;
    GetClientRect(dialog, &client);
    KeyHelpLayout layout = keyHelpLayout(dialog);
    SIZE margin = layout.margin;
    RECT button = layout.button;
    MoveWindow(GetDlgItem(dialog, IDOK), client.right - margin.cx - button.right,
               client.bottom - margin.cy - button.bottom, button.right, button.bottom, TRUE);
    MoveWindow(GetDlgItem(dialog, kListId), margin.cx, margin.cy, client.right - 2 * margin.cx,
               client.bottom - 3 * margin.cy - button.bottom, TRUE);
}

// The window made as large as its rows and columns need at its DPI, within
// the work area of its monitor (where the list scrolls instead), centred there.
void fitKeyHelpToRows(HWND dialog) {
    HWND list = GetDlgItem(dialog, kListId);
    int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    RECT item = {LVIR_BOUNDS, 0, 0, 0}, header = {0, 0, 0, 0};
    if (!rows || !SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&item))) return;
    GetWindowRect(reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0)), &header);
    RECT listWindow, listClient;
    GetWindowRect(list, &listWindow);
    GetClientRect(list, &listClient);
    int columns = 0;
    for (int column = 0; column < 2; ++column) columns += static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0));
    // The list's border, a scroll bar's room in case the screen is too low, a pixel to spare.
    int frameX = (listWindow.right - listWindow.left) - listClient.right, frameY = (listWindow.bottom - listWindow.top) - listClient.bottom;
    int listWidth = columns + frameX + GetSystemMetrics(SM_CXVSCROLL) + 1;
    int listHeight = (header.bottom - header.top) + rows * (item.bottom - item.top) + frameY + 1;
    KeyHelpLayout layout = keyHelpLayout(dialog);
    RECT frame = {0, 0, listWidth + 2 * layout.margin.cx, listHeight + 3 * layout.margin.cy + layout.button.bottom};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongW(dialog, GWL_EXSTYLE)));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (!GetMonitorInfoW(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor)) return;
    RECT work = monitor.rcWork;
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    if (width > work.right - work.left) width = work.right - work.left;
    if (height > work.bottom - work.top) height = work.bottom - work.top;
    SetWindowPos(dialog, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK keyHelpProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        HWND list = GetDlgItem(dialog, kListId);
        placeKeyHelpControls(dialog);
        SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
        const wchar_t* headings[] = {L"Key or mouse", L"Action"};
        for (int column = 0; column < 2; ++column) {
            LVCOLUMNW fields{};
            fields.mask = LVCF_TEXT | LVCF_SUBITEM;
            fields.pszText = const_cast<wchar_t*>(headings[column]);
            fields.iSubItem = column;
            SendMessageW(list, LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&fields));
        }
        KeyHelpRow rows[kMaxKeyHelpRows];
        int count = keyHelpRows(rows, kMaxKeyHelpRows);
        for (int k = 0; k < count; ++k) {
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = k;
            item.pszText = rows[k].keys;
            SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            item.iSubItem = 1;
            item.pszText = rows[k].action;
            SendMessageW(list, LVM_SETITEMTEXTW, k, reinterpret_cast<LPARAM>(&item));
        }
        SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE_USEHEADER);
        SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, LVSCW_AUTOSIZE_USEHEADER);
        fitKeyHelpToRows(dialog);
        return TRUE;
    }
    case WM_SIZE:
        placeKeyHelpControls(dialog);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

int keyHelpRows(KeyHelpRow* rows, int capacity) {
    int count = 0;
    auto next = [&]() -> KeyHelpRow* { return count < capacity ? &rows[count++] : nullptr; };
    const CommandRow* table = nullptr;
    int commands = commandRows(&table);
    for (int k = 0; k < commands; ++k) {
        const CommandRow& command = table[k];
        if (!command.key) continue;
        KeyHelpRow* row = next();
        if (!row) return count;
        Writer keys{row->keys, kKeyHelpKeyUnits}, action{row->action, kKeyHelpActionUnits};
        keys.add(L"");
        BYTE keyFlags = command.keyFlags == kDialogKey ? FVIRTKEY : command.keyFlags;
        writeKeyName(&keys, ACCEL{keyFlags, command.key, command.command});
        action.add(L"");
        writeAction(&action, command);
    }
    for (const KeyName& mouse : kMouseActions) {
        KeyHelpRow* row = next();
        if (!row) return count;
        int tab = 0;
        while (mouse.name[tab] != L'\t') ++tab;
        Writer keys{row->keys, kKeyHelpKeyUnits}, action{row->action, kKeyHelpActionUnits};
        keys.add(mouse.name, tab);
        action.add(mouse.name + tab + 1);
    }
    return count;
}

void showKeyHelp(HWND owner) {
    alignas(4) WORD dialogTemplate[kKeyHelpTemplateWords];
    buildKeyHelpTemplate(dialogTemplate, kListId);
    DialogBoxIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner,
                            keyHelpProcedure, 0);
}
