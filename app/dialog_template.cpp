#include "app/dialog_template.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/dialog_layout.h"
#include "app/panel_text.h"

namespace {

constexpr DWORD kDialogStyle = 0x02CF0048;  // clip children, overlapped window, shell font
constexpr DWORD kDialogExStyle = WS_EX_ACCEPTFILES;
constexpr short kDefaultPlacement = -32768;
constexpr WORD kButtonAtom = 0x0080, kStaticAtom = 0x0082;
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

struct ControlSpec {
    WORD id;
    const wchar_t* className;  // null: use atom
    WORD atom;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
};

void writeControl(TemplateWriter* writer, const ControlSpec& control) {
    writer->alignToDword();
    writer->dword(control.style);
    writer->dword(control.exStyle);
    for (int i = 0; i < 2; ++i) writer->word(0);  // x, y
    for (int i = 0; i < 2; ++i) writer->word(128);  // cx, cy: real places come from the layout
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

}  // namespace

void buildMainDialogTemplate(WORD* buffer) {
    TemplateWriter writer(buffer);
    writer.dword(kDialogStyle);
    writer.dword(kDialogExStyle);
    const DialogControl* controls = nullptr;
    const PanelLine* lines = nullptr;
    int controlCount = dialogControls(&controls), lineCount = panelLines(&lines);
    writer.word(static_cast<WORD>(controlCount + lineCount));
    for (int i = 0; i < 4; ++i) writer.word(static_cast<WORD>(kDefaultPlacement));
    writer.word(0);  // no menu: attached at initialisation
    writer.word(0);  // default dialog class
    writer.text(kApplicationTitle);
    writer.word(8);
    writer.text(L"MS Shell Dlg 2");
    for (int k = 0; k < controlCount; ++k) {
        const DialogControl& control = controls[k];
        writeControl(&writer, {control.id, control.className, control.atom, control.text, control.style, control.exStyle});
    }
    for (int k = 0; k < lineCount; ++k)
        writeControl(&writer, {static_cast<WORD>(lines[k].id), nullptr, kStaticAtom, L"", panelLineStyle(lines[k].form), 0});
}

void buildKeyHelpTemplate(WORD* buffer, WORD listId) {
    const ControlSpec controls[] = {
        {listId, L"SysListView32", 0, L"",
         kShown | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_NOSORTHEADER | LVS_SINGLESEL, 0},
        {IDOK, nullptr, kButtonAtom, L"OK", kShown | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
    };
    TemplateWriter writer(buffer);
    writer.dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SHELLFONT | DS_CENTER);
    writer.dword(0);
    writer.word(static_cast<WORD>(sizeof controls / sizeof controls[0]));
    for (short side : {0, 0, 240, 260}) writer.word(static_cast<WORD>(side));  // x, y, cx, cy
    writer.word(0);  // no menu
    writer.word(0);  // default dialog class
    writer.text(L"Keys and mouse");
    writer.word(8);
    writer.text(L"MS Shell Dlg 2");
    for (const ControlSpec& control : controls) writeControl(&writer, control);
}
