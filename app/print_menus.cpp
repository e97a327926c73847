#include "app/print_menus.h"

#include "app/check_worker.h"
#include "app/dialog_template.h"
#include "app/window_ids.h"
#include "view/view_control.h"

namespace {

constexpr WORD kQuestionLabelId = 100, kQuestionEditId = 101;
constexpr int kAnswerUnits = 64;

static_assert(kPrintMaterialCount <= 16 && kPrinterPresetCount <= 32);

void insertItem(HMENU menuBar, UINT before, UINT command, const char* name) {
    wchar_t text[64];
    int length = 0;
    while (name[length] && length < 62) {
        text[length] = static_cast<wchar_t>(name[length]);
        ++length;
    }
    text[length] = 0;
    InsertMenuW(menuBar, before, MF_BYCOMMAND | MF_STRING, command, text);
}

// What the question shows and gives back.
struct Question {
    const wchar_t* prompt;
    wchar_t answer[kAnswerUnits];
};

INT_PTR CALLBACK questionProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        auto* question = reinterpret_cast<Question*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SetDlgItemTextW(dialog, kQuestionLabelId, question->prompt);
        SetDlgItemTextW(dialog, kQuestionEditId, question->answer);
        SendDlgItemMessageW(dialog, kQuestionEditId, EM_SETLIMITTEXT, kAnswerUnits - 1, 0);
        SendDlgItemMessageW(dialog, kQuestionEditId, EM_SETSEL, 0, -1);
        SetFocus(GetDlgItem(dialog, kQuestionEditId));
        return FALSE;  // the focus is set
    }
    case WM_COMMAND: {
        WORD id = LOWORD(wParam);
        if (id == IDOK) {
            auto* question = reinterpret_cast<Question*>(GetWindowLongPtrW(dialog, DWLP_USER));
            GetDlgItemTextW(dialog, kQuestionEditId, question->answer, kAnswerUnits);
        }
        if (id == IDOK || id == IDCANCEL) EndDialog(dialog, id);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

// Asks until the answer reads (true) or the user cancels (false).
template <typename Read>
bool ask(HWND owner, const wchar_t* title, Question* question, Read read) {
    alignas(4) WORD dialogTemplate[kQuestionTemplateWords];
    buildQuestionTemplate(dialogTemplate, title, kQuestionLabelId, kQuestionEditId);
    for (;;) {
        INT_PTR answer = DialogBoxIndirectParamW(GetModuleHandleW(nullptr),
                                                 reinterpret_cast<LPCDLGTEMPLATEW>(dialogTemplate), owner,
                                                 questionProcedure, reinterpret_cast<LPARAM>(question));
        if (answer != IDOK) return false;
        if (read(reinterpret_cast<const Utf16*>(question->answer))) return true;
        MessageBeep(MB_ICONWARNING);
    }
}

void writeAnswerNumber(wchar_t* out, uint32_t hundredths) {
    wsprintfW(out, L"%u.%02u", hundredths / 100, hundredths % 100);
}

bool askDensity(MainDialogState* state) {
    Question question{L"Density of the material in g/cm\u00B3:", {}};
    uint32_t milli = state->preferences.values[kSettingMaterialDensity];
    wsprintfW(question.answer, L"%u.%03u", milli / 1000, milli % 1000);
    if (!ask(state->dialog, L"Other material", &question, [&](const Utf16* text) { return readDensity(text, &milli); }))
        return false;
    writeSetting(&state->preferences, kSettingMaterialDensity, milli, &state->sink.self);
    return true;
}

bool askPrinterSize(MainDialogState* state) {
    Question question{L"Build volume in mm (or add cm or in), width \u00D7 depth \u00D7 height, as 250 x 210 x 220:", {}};
    const uint32_t* values = &state->preferences.values[kSettingPrinterWidth];
    wchar_t sides[3][16];
    for (int i = 0; i < 3; ++i) writeAnswerNumber(sides[i], values[i]);
    wsprintfW(question.answer, L"%s x %s x %s", sides[0], sides[1], sides[2]);
    uint32_t size[3];
    if (!ask(state->dialog, L"Other printer", &question, [&](const Utf16* text) { return readPrinterSize(text, size); }))
        return false;
    for (int i = 0; i < 3; ++i)
        writeSetting(&state->preferences, static_cast<Setting>(kSettingPrinterWidth + i), size[i], &state->sink.self);
    return true;
}

uint32_t menuAngle(uint32_t item) {
    return kFirstMenuOverhangAngle + item * kOverhangAngleStep;
}

// The tint and the overhang line follow a new angle.
void chooseOverhangAngle(MainDialogState* state, uint32_t degrees) {
    writeSetting(&state->preferences, kSettingOverhangAngle, degrees, &state->sink.self);
    HWND view = GetDlgItem(state->dialog, kViewId);
    setOverhangAngle(view, static_cast<float>(degrees));
    remeasureOverhangs(&state->model, static_cast<float>(degrees));
}

}  // namespace

void fillPrintMenus(HMENU menuBar) {
    if (!menuBar) return;
    for (uint32_t i = 0; i < kPrintMaterialCount; ++i)
        insertItem(menuBar, kCommandOtherMaterial, kCommandFirstMaterial + i, kPrintMaterials[i].name);
    for (uint32_t i = 0; i < kPrinterPresetCount; ++i)
        insertItem(menuBar, kCommandOtherPrinter, kCommandFirstPrinter + i, kPrinterPresets[i].name);
}

PrintChoice storedPrintChoice(const Preferences* preferences) {
    const uint32_t* v = preferences->values;
    StoredPrintChoice stored{v[kSettingMaterial], v[kSettingMaterialDensity], v[kSettingPrinter],
                             {v[kSettingPrinterWidth], v[kSettingPrinterDepth], v[kSettingPrinterHeight]}};
    return makePrintChoice(&stored);
}

bool runPrintCommand(MainDialogState* state, WORD id) {
    Preferences* preferences = &state->preferences;
    const MessageSink* sink = &state->sink.self;
    if (id >= kCommandFirstMaterial && id < kCommandFirstMaterial + kPrintMaterialCount) {
        writeSetting(preferences, kSettingMaterial, id - kCommandFirstMaterial, sink);
    } else if (id == kCommandOtherMaterial) {
        if (!askDensity(state)) return true;
        writeSetting(preferences, kSettingMaterial, kOtherMaterial, sink);
    } else if (id == kCommandNoPrinter) {
        writeSetting(preferences, kSettingPrinter, kNoPrinter, sink);
    } else if (id >= kCommandFirstPrinter && id < kCommandFirstPrinter + kPrinterPresetCount) {
        writeSetting(preferences, kSettingPrinter, id - kCommandFirstPrinter + 1, sink);
    } else if (id == kCommandOtherPrinter) {
        if (!askPrinterSize(state)) return true;
        writeSetting(preferences, kSettingPrinter, kOtherPrinter, sink);
    } else if (id >= kCommandFirstOverhangAngle && id < kCommandFirstOverhangAngle + kMenuOverhangAngles) {
        chooseOverhangAngle(state, menuAngle(id - kCommandFirstOverhangAngle));
    } else {
        return false;
    }
    state->panel.print = storedPrintChoice(preferences);
    showPanelTexts(&state->panel, &state->model, shownUnits(preferences));
    return true;
}

void checkPrintMenus(HMENU menuBar, const Preferences* preferences) {
    if (!menuBar) return;
    uint32_t material = preferences->values[kSettingMaterial];
    uint32_t printer = preferences->values[kSettingPrinter];
    auto mark = [&](UINT command, bool on) { CheckMenuItem(menuBar, command, MF_BYCOMMAND | (on ? MF_CHECKED : MF_UNCHECKED)); };
    for (uint32_t i = 0; i < kPrintMaterialCount; ++i) mark(kCommandFirstMaterial + i, material == i);
    mark(kCommandOtherMaterial, material == kOtherMaterial);
    mark(kCommandNoPrinter, printer == kNoPrinter);
    for (uint32_t i = 0; i < kPrinterPresetCount; ++i) mark(kCommandFirstPrinter + i, printer == i + 1);
    mark(kCommandOtherPrinter, printer == kOtherPrinter);
    for (uint32_t i = 0; i < kMenuOverhangAngles; ++i)
        mark(kCommandFirstOverhangAngle + i, preferences->values[kSettingOverhangAngle] == menuAngle(i));
}
