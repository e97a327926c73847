#include "app/dialog_template.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/main_dialog.h"

namespace {

constexpr DWORD kDialogStyle = 0x02CF0048;  // clip children, overlapped window, shell font
constexpr DWORD kDialogExStyle = WS_EX_ACCEPTFILES;
constexpr short kDefaultPlacement = -32768;
constexpr WORD kButtonAtom = 0x0080, kEditAtom = 0x0081, kStaticAtom = 0x0082, kComboAtom = 0x0085;

struct ControlSpec {
    WORD id;
    const wchar_t* className;  // null: use atom
    WORD atom;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
};

constexpr DWORD kChild = WS_CHILD;
constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kSwatch = kShown | SS_SUNKEN | SS_NOTIFY | WS_TABSTOP;
constexpr DWORD kCombo = kShown | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_DISABLED;

const ControlSpec kControls[] = {
    {kViewId, L"STLView", 0, L"", kChild | WS_TABSTOP, 0},
    {kProgressId, L"msctls_progress32", 0, L"", kChild | WS_BORDER, 0},
    {kKindLineId, nullptr, kStaticAtom, L"", kShown, 0},
    {kSizeLineId, nullptr, kStaticAtom, L"", kShown, 0},
    {kFactsLineId, nullptr, kStaticAtom, L"", kShown | SS_NOPREFIX, 0},
    {kSectionLineId, nullptr, kStaticAtom, L"", kShown | SS_NOPREFIX | SS_ENDELLIPSIS, 0},
    {kCheckLineId, nullptr, kStaticAtom, L"", kShown | SS_NOPREFIX, 0},
    {kMeasureLineId, nullptr, kStaticAtom, L"", kShown | SS_NOPREFIX, 0},
    {kSpaceLabelId, nullptr, kStaticAtom, L"Coordinate space:", kShown | WS_DISABLED, 0},
    {kSpaceComboId, nullptr, kComboAtom, L"", kCombo, 0},
    {kMaterialCheckId, nullptr, kButtonAtom, L"Material:", kShown | BS_AUTOCHECKBOX | WS_TABSTOP | WS_DISABLED, 0},
    {kFirstSwatchId, nullptr, kStaticAtom, L"", kSwatch | WS_DISABLED, 0},
    {kFirstSwatchId + 1, nullptr, kStaticAtom, L"", kSwatch, 0},
    {kFirstSwatchId + 2, nullptr, kStaticAtom, L"", kSwatch, 0},
    {kFirstSwatchId + 3, nullptr, kStaticAtom, L"", kSwatch, 0},
    {kColorsLabelId, nullptr, kStaticAtom, L"Triangle colors:", kShown | WS_DISABLED, 0},
    {kColorsComboId, nullptr, kComboAtom, L"", kCombo, 0},
    {kTreeId, L"SysTreeView32", 0, L"",
     kShown | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | WS_BORDER | WS_TABSTOP, WS_EX_NOPARENTNOTIFY},
    {kMessagesId, nullptr, kEditAtom, L"",
     kShown | ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0},
    {kHintId, nullptr, kStaticAtom, L"Open an STL file with Ctrl+O, or drop one here",
     kShown | SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX | WS_BORDER, 0},
};

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
    writer.word(static_cast<WORD>(sizeof kControls / sizeof kControls[0]));
    for (int i = 0; i < 4; ++i) writer.word(static_cast<WORD>(kDefaultPlacement));
    writer.word(0);  // no menu: attached at initialisation
    writer.word(0);  // default dialog class
    writer.text(kApplicationTitle);
    writer.word(8);
    writer.text(L"MS Shell Dlg 2");
    for (const ControlSpec& control : kControls) writeControl(&writer, control);
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
