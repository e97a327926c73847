#include "app/dialog_template.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/dialog_layout.h"
#include "app/panel_text.h"

namespace {

constexpr DWORD kDialogStyle = 0x02CF0048;  // clip children, overlapped window, shell font
constexpr DWORD kDialogExStyle = WS_EX_ACCEPTFILES;
constexpr short kDefaultPlacement = -32768;
constexpr WORD kButtonAtom = 0x0080, kEditAtom = 0x0081, kStaticAtom = 0x0082;
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;

class TemplateWriter {
public:
    explicit TemplateWriter(WORD* buffer) : out_(buffer), start_(buffer) {}

    void word(WORD value) {
        *out_++ = value;
    }
    void dword(DWORD value) {
        word(LOWORD(value));
        word(HIWORD(value));
    }
    void text(const wchar_t* value) {
        do word(static_cast<WORD>(*value)); while (*value++);
    }
    void alignToDword() {
        if ((out_ - start_) % 2) word(0);
    }

private:
    WORD* out_;
    WORD* start_;
};

// At `place` (x, y, cx, cy in dialog units), or where the layout puts it later.
void writeControl(TemplateWriter* writer, const DialogControl& control, const short* place = nullptr) {
    const short unplaced[4] = {0, 0, 128, 128};
    writer->alignToDword();
    writer->dword(control.style);
    writer->dword(control.exStyle);
    for (int i = 0; i < 4; ++i) writer->word(static_cast<WORD>((place ? place : unplaced)[i]));
    writer->word(control.id);
    if (control.className) {
        writer->text(control.className);
    } else {
        writer->word(0xFFFF);
        writer->word(control.atom);
    }
    writer->text(control.text);
    writer->word(0);  // no creation data
}



// A classic template's header: no menu, the default class, 8-point "MS Shell Dlg 2".
void writeHeader(TemplateWriter* writer, DWORD style, DWORD exStyle, int controls, const short place[4],
                 const wchar_t* title) {
    writer->dword(style);
    writer->dword(exStyle);
    writer->word(static_cast<WORD>(controls));
    for (int i = 0; i < 4; ++i) writer->word(static_cast<WORD>(place[i]));  // x, y, cx, cy
    writer->word(0);  // no menu: the main window's is attached at initialisation
    writer->word(0);  // default dialog class
    writer->text(title);
    writer->word(8);
    writer->text(L"MS Shell Dlg 2");
}

}  // namespace

void buildMainDialogTemplate(WORD* buffer) {
    TemplateWriter writer(buffer);
    const DialogControl* controls = nullptr;
    const PanelLine* lines = nullptr;
    int controlCount = dialogControls(&controls), lineCount = panelLines(&lines);
    const short systemPlacement[4] = {kDefaultPlacement, kDefaultPlacement, kDefaultPlacement, kDefaultPlacement};
    writeHeader(&writer, kDialogStyle, kDialogExStyle, controlCount + lineCount, systemPlacement, kApplicationTitle);
    for (int k = 0; k < controlCount; ++k) writeControl(&writer, controls[k]);
    for (int k = 0; k < lineCount; ++k) {
        DialogControl line{static_cast<WORD>(lines[k].id), nullptr, kStaticAtom, L"", panelLineStyle(lines[k].form), 0,
                           kInHeader, 0, 0, 0, 0};
        writeControl(&writer, line);
    }
}

void buildKeyHelpTemplate(WORD* buffer, WORD listId) {
    const DialogControl controls[] = {
        {listId, L"SysListView32", 0, L"",
         kShown | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL, 0, kInViewArea, 0, 0, 0, 0},
        {IDOK, nullptr, kButtonAtom, L"OK", kShown | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kInViewArea, 0, 0, 0, 0},
    };
    TemplateWriter writer(buffer);
    const short place[4] = {0, 0, 240, 260};
    // Resizable: it opens as large as its rows need, and a user may want it smaller.
    writeHeader(&writer, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_SHELLFONT | DS_CENTER, 0,
                sizeof controls / sizeof controls[0], place, L"Keys and mouse");
    for (const DialogControl& control : controls) writeControl(&writer, control);
}

void buildQuestionTemplate(WORD* buffer, const wchar_t* title, WORD labelId, WORD editId) {
    const DialogControl controls[] = {
        {labelId, nullptr, kStaticAtom, L"", kShown, 0, kInViewArea, 0, 0, 0, 0},
        {editId, nullptr, kEditAtom, L"", kShown | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0, kInViewArea, 0, 0, 0, 0},
        {IDOK, nullptr, kButtonAtom, L"OK", kShown | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kInViewArea, 0, 0, 0, 0},
        {IDCANCEL, nullptr, kButtonAtom, L"Cancel", kShown | WS_TABSTOP, 0, kInViewArea, 0, 0, 0, 0},
    };
    const short places[4][4] = {{7, 7, 186, 18}, {7, 27, 186, 14}, {89, 48, 50, 14}, {143, 48, 50, 14}};
    TemplateWriter writer(buffer);
    const short place[4] = {0, 0, 200, 69};
    writeHeader(&writer, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT | DS_CENTER, 0, 4, place,
                title);
    for (int k = 0; k < 4; ++k) writeControl(&writer, controls[k], places[k]);
}

void buildRepairOptionsTemplate(WORD* buffer, WORD firstBoxId, const wchar_t* const labels[kRepairOptions]) {
    TemplateWriter writer(buffer);
    const short place[4] = {0, 0, 220, 27 + 14 * kRepairOptions};
    writeHeader(&writer, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT | DS_CENTER, 0,
                kRepairOptions + 2, place, L"Save as: repairs");
    for (int k = 0; k < kRepairOptions; ++k) {
        const short box[4] = {7, static_cast<short>(7 + 14 * k), 206, 12};
        DialogControl control{static_cast<WORD>(firstBoxId + k), nullptr, kButtonAtom, labels[k],
                              kShown | WS_TABSTOP | BS_AUTOCHECKBOX, 0, kInViewArea, 0, 0, 0, 0};
        writeControl(&writer, control, box);
    }
    const short y = static_cast<short>(9 + 14 * kRepairOptions);
    const short ok[4] = {109, y, 50, 14}, cancel[4] = {163, y, 50, 14};
    writeControl(&writer, {IDOK, nullptr, kButtonAtom, L"OK", kShown | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, kInViewArea, 0, 0, 0, 0}, ok);
    writeControl(&writer, {IDCANCEL, nullptr, kButtonAtom, L"Cancel", kShown | WS_TABSTOP, 0, kInViewArea, 0, 0, 0, 0}, cancel);
}

