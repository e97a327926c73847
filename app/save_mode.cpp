#include "app/save_mode.h"

#include "app/picture_mode.h"
#include "app/shown_model.h"
#include "core/converting_sink.h"

namespace {

constexpr wchar_t kUsage[] = L"usage: stlview --save OUT.stl|OUT.3mf [--repair] FILE... (at most four files)";

struct SaveCommand {
    const wchar_t* output;
    const wchar_t* files[kMaxParts];
    int fileCount;
    bool repair;
};

// Null when the command is good, else what is wrong with it.
const wchar_t* parseCommand(int argumentCount, wchar_t** arguments, SaveCommand* command) {
    *command = SaveCommand{};
    for (int i = 1; i < argumentCount; ++i) {
        const wchar_t* argument = arguments[i];
        if (lstrcmpW(argument, L"--save") == 0) {
            if (i + 1 >= argumentCount || !arguments[i + 1][0]) return L"--save: the path of the file to write, like model-fixed.stl or model-fixed.3mf";
            command->output = arguments[++i];
        } else if (lstrcmpW(argument, L"--repair") == 0) {
            command->repair = true;
        } else if (argument[0] == L'-' && argument[1] == L'-') {
            return L"no such option with --save; the options are --save, --repair";
        } else if (command->fileCount < kMaxParts) {
            command->files[command->fileCount++] = argument;
        } else {
            return L"at most four files make one model";
        }
    }
    if (!command->output) return L"--repair: this option needs --save OUT.stl";
    if (command->fileCount == 0) return L"no model file given";
    return nullptr;
}

intptr_t writeToConsole(void* output, StatusCode code, uintptr_t argument, const Utf16*) {
    if (code != kLine) return 1;
    writeText(static_cast<HANDLE>(output), reinterpret_cast<const wchar_t*>(argument));
    writeText(static_cast<HANDLE>(output), L"\r\n");
    return 1;
}

}  // namespace

int runSaveMode(int argumentCount, wchar_t** arguments) {
    HANDLE output = consoleOutput();
    SaveCommand command;
    if (const wchar_t* fault = parseCommand(argumentCount, arguments, &command)) {
        writeText(output, fault);
        writeText(output, L"\r\n");
        writeText(output, kUsage);
        writeText(output, L"\r\n");
        return kPictureBadCommand;
    }
    ShownModel* model = static_cast<ShownModel*>(allocBytes(sizeof(ShownModel)));
    if (!model) return kPictureFailed;
    *model = ShownModel{};
    int loaded = 0;
    for (int i = 0; i < command.fileCount; ++i) loaded += loadPart(command.files[i], output, &model->parts[loaded]);
    bool saved = false;
    if (loaded == command.fileCount) {
        ConvertingSink sink;
        initConvertingSink(&sink, MessageSink{output, writeToConsole});
        uint8_t repair = command.repair ? 1 : 0;
        SaveOutcome outcome;
        // As the window shows it: a part recognised as Y up stands with Y up.
        bool yUp = model->parts[0].metadata.coordinateSpace == kSpaceYUp;
        saved = saveShownModel(model, command.output, RepairChoice{repair, repair, repair, repair}, yUp, &outcome,
                               &sink.self);
    }
    releaseParts(model);
    freeBytes(model);
    return saved ? kPictureWritten : kPictureFailed;
}
