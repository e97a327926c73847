#include "app/picture_mode.h"

#include <objbase.h>

#include <cmath>
#include <cstring>

#include "app/picture_file.h"
#include "app/preferences.h"
#include "app/section_request.h"
#include "app/shown_model.h"
#include "core/converting_sink.h"
#include "core/memory.h"
#include "core/utf16_text.h"
#include "load/load_job.h"
#include "numfmt/length_format.h"
#include "view/camera.h"
#include "view/gpu_mesh.h"

namespace {

constexpr int32_t kDefaultWidth = 1280;
constexpr int32_t kDefaultHeight = 960;
constexpr int32_t kMinPictureSide = 16;
constexpr uint32_t kOpaque = 0xFF000000;
constexpr int kValueProblemCapacity = 320;

struct PictureRequest {
    const wchar_t* output;
    const wchar_t* files[kMaxParts];
    int fileCount;
    PictureLook look;
    bool startView;  // the settings' start angles rather than a preset
    bool ownBackground;
    // --section AXIS=LENGTH: millimetres of the model as shown unless a unit
    // is typed, or with '%' a share of the extent; placed once the parts'
    // box is known.
    bool section;
    SectionRequest sectionRequest;
    // Why a value was refused, when its option's `accepts` alone does not say.
    wchar_t valueProblem[kValueProblemCapacity];
};

struct NamedValue {
    const wchar_t* name;
    int value;
};

const NamedValue kModes[] = {{L"solid", kRenderSolid}, {L"outline", kRenderOutline}, {L"wireframe", kRenderWireframe}};
const NamedValue kViews[] = {{L"start", -1},        {L"top", kViewTop},     {L"bottom", kViewBottom},
                             {L"left", kViewLeft},   {L"right", kViewRight}, {L"front", kViewFront},
                             {L"back", kViewBack}};

template <size_t count>
bool lookUp(const NamedValue (&table)[count], const wchar_t* text, int* value) {
    for (const NamedValue& entry : table) {
        if (lstrcmpW(entry.name, text) != 0) continue;
        *value = entry.value;
        return true;
    }
    return false;
}

// Decimal digits up to `end` or the terminator; false for none, others or out of range.
bool parseSide(const wchar_t** text, wchar_t end, int32_t* side) {
    int32_t value = 0;
    const wchar_t* at = *text;
    for (; *at && *at != end; ++at) {
        if (*at < L'0' || *at > L'9' || value > kMaxPictureSide) return false;
        value = value * 10 + (*at - L'0');
    }
    if (at == *text || value < kMinPictureSide || value > kMaxPictureSide) return false;
    *text = at;
    *side = value;
    return true;
}

bool parseOutput(const wchar_t* text, PictureRequest* request) {
    request->output = text;
    return text[0] != 0;
}

bool parseSize(const wchar_t* text, PictureRequest* request) {
    PictureLook* look = &request->look;
    return parseSide(&text, L'x', &look->width) && *text++ == L'x' && parseSide(&text, 0, &look->height);
}

// RRGGBB as on web pages; red lands in the low byte.
bool parseBackground(const wchar_t* text, PictureRequest* request) {
    uint32_t value = 0;
    int digits = 0;
    for (; text[digits]; ++digits) {
        wchar_t c = text[digits];
        uint32_t nibble = c >= L'0' && c <= L'9' ? c - L'0' : (c | 0x20) >= L'a' && (c | 0x20) <= L'f' ? (c | 0x20) - L'a' + 10 : 16;
        if (nibble > 15 || digits == 6) return false;
        value = value << 4 | nibble;
    }
    if (digits != 6) return false;
    request->look.backgroundColor = kOpaque | (value >> 16) | (value & 0xFF00) | (value & 0xFF) << 16;
    request->ownBackground = true;
    return true;
}

bool parseMode(const wchar_t* text, PictureRequest* request) {
    int number;
    if (!lookUp(kModes, text, &number)) return false;
    request->look.mode = static_cast<RenderMode>(number);
    return true;
}

bool parseView(const wchar_t* text, PictureRequest* request) {
    int number;
    if (!lookUp(kViews, text, &number)) return false;
    request->startView = number < 0;
    if (number >= 0) {
        CameraAngles angles = presetAngles(static_cast<ViewPreset>(number));
        request->look.yaw = angles.yaw;
        request->look.pitch = angles.pitch;
    }
    return true;
}

constexpr wchar_t kSectionAccepts[] =
    L"x, y or z, then = and a length in millimetres (or with mm, cm or in) or a share of the model, like z=12.5, "
    L"z=1.25cm or z=50%";

// The refused length's fault, naming a unit not understood ("'ft' is not a
// unit of length here; ...").
void describeLengthFault(LengthFault fault, const TypedLength* length, wchar_t (&problem)[kValueProblemCapacity]) {
    constexpr int kMostQuotedUnits = 24;
    wchar_t* out = problem;
    if (fault == LengthFault::kUnknownUnit) {
        *out++ = L'\'';
        for (const Utf16* at = length->unitStart; at != length->unitEnd && out - problem < kMostQuotedUnits; ++at)
            *out++ = *at;
        out = appendUtf16(out, L"' is ");
        out = appendUtf16(out, lengthFaultText(fault));
    } else {
        out = appendUtf16(out, lengthFaultText(fault));
        out = appendUtf16(out, L"; --section takes ");
        out = appendUtf16(out, kSectionAccepts);
    }
    *out = 0;
}

bool parseSection(const wchar_t* text, PictureRequest* request) {
    LengthFault fault;
    if (!readSectionRequest(text, &request->sectionRequest, &fault)) {
        appendUtf16(request->valueProblem, kSectionAccepts)[0] = 0;
        return false;
    }
    if (fault != LengthFault::kNone) {
        describeLengthFault(fault, &request->sectionRequest.length, request->valueProblem);
        return false;
    }
    request->section = true;
    request->look.section.on = 1;
    request->look.section.axis = request->sectionRequest.axis;
    return true;
}

bool parseSectionFlip(const wchar_t*, PictureRequest* request) {
    request->look.section.flip = 1;
    return true;
}

// At the settings' angle, which applySettings reads.
bool parseOverhangs(const wchar_t*, PictureRequest* request) {
    request->look.overhangs.on = 1;
    return true;
}

// Each option with what its value may be, said when the value is refused.
struct PictureOption {
    const wchar_t* name;
    const wchar_t* accepts;  // null for an option without a value
    bool (*parse)(const wchar_t* value, PictureRequest* request);
};

const PictureOption kOptions[] = {
    {L"--picture", L"the path of the PNG file to write, like model.png", parseOutput},
    {L"--size", L"width and height from 16 to 16384, like 1280x960", parseSize},
    {L"--mode", L"solid, outline or wireframe", parseMode},
    {L"--view", L"start, top, bottom, left, right, front or back", parseView},
    {L"--background", L"a colour as six hexadecimal digits RRGGBB, like 20B2AA", parseBackground},
    {L"--section", kSectionAccepts, parseSection},
    {L"--section-flip", nullptr, parseSectionFlip},
    {L"--overhangs", nullptr, parseOverhangs},
};

const PictureOption* findOption(const wchar_t* name) {
    for (const PictureOption& option : kOptions)
        if (lstrcmpW(option.name, name) == 0) return &option;
    return nullptr;
}

constexpr wchar_t kUsage[] =
    L"usage: stlview [FILE...]\r\n"
    L"         opens the window on up to four STL or 3MF files, as parts of one model\r\n"
    L"       stlview --picture OUT.png [--size WxH] [--mode solid|outline|wireframe]\r\n"
    L"               [--view start|top|bottom|left|right|front|back] [--background RRGGBB]\r\n"
    L"               [--section x|y|z=LENGTH|SHARE%] [--section-flip] [--overhangs] FILE...\r\n"
    L"         writes a PNG of up to four files as the window would show them, without a window\r\n"
    L"       stlview --save OUT.stl|OUT.3mf [--repair] FILE...\r\n"
    L"         saves up to four files as one model in millimetres, as File > Save as does,\r\n"
    L"         with faces turned outwards, triangles without area dropped and small holes closed\r\n"
    L"         when --repair is given\r\n"
    L"       stlview --version\r\n"
    L"         prints the version\r\n"
    L"       stlview --help (or -h, /?)\r\n"
    L"         prints this text";
// Beside the picture options, the ones the start answers before any window.
constexpr wchar_t kOtherOptions[] = L", --version, --help, --save, --repair";

// What is wrong with a command line: what it is about and, if needed, why.
struct CommandLineFault {
    const wchar_t* subject;
    const wchar_t* value;    // the value refused, named after the subject; null for none
    const wchar_t* problem;  // null when the subject says it all
    bool listOptions;        // the problem goes on with the names of the options
};

bool refuse(CommandLineFault* fault, const wchar_t* subject, const wchar_t* problem, bool listOptions = false) {
    *fault = CommandLineFault{subject, nullptr, problem, listOptions};
    return false;
}

bool parseRequest(int argumentCount, wchar_t** arguments, PictureRequest* request, CommandLineFault* fault) {
    request->output = nullptr;
    request->fileCount = 0;
    request->look = PictureLook{kDefaultWidth, kDefaultHeight, kRenderSolid, 0, 0, 0, 0, initialSection(), 0, {}, 0};
    request->startView = true;
    request->ownBackground = false;
    request->section = false;
    const PictureOption* firstOption = nullptr;
    for (int i = 1; i < argumentCount; ++i) {
        const wchar_t* argument = arguments[i];
        if (argument[0] == L'-' && argument[1] == L'-') {
            const PictureOption* option = findOption(argument);
            if (!option)
                return refuse(fault, argument, L"no such option; the options are", true);
            if (!firstOption) firstOption = option;
            if (!option->accepts) {
                option->parse(nullptr, request);
                continue;
            }
            if (i + 1 >= argumentCount) return refuse(fault, option->name, option->accepts);
            request->valueProblem[0] = 0;
            if (!option->parse(arguments[i + 1], request)) {
                refuse(fault, option->name, request->valueProblem[0] ? request->valueProblem : option->accepts);
                if (request->valueProblem[0]) fault->value = arguments[i + 1];
                return false;
            }
            ++i;
        } else if (request->fileCount < kMaxParts) {
            request->files[request->fileCount++] = argument;
        } else {
            return refuse(fault, L"at most four files make one picture", nullptr);
        }
    }
    if (!request->output)
        return refuse(fault, firstOption ? firstOption->name : L"--picture", L"this option needs --picture OUT.png");
    if (request->fileCount == 0) return refuse(fault, L"no STL file given", nullptr);
    return true;
}

}  // namespace

// The console of the parent, or the output it handed over (a pipe, a file).
HANDLE consoleOutput() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output && output != INVALID_HANDLE_VALUE) return output;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return nullptr;
    output = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
    return output == INVALID_HANDLE_VALUE ? nullptr : output;
}

// A console takes UTF-16; anything else gets UTF-8.
void writeText(HANDLE output, const wchar_t* text) {
    if (!output) return;
    int units = lstrlenW(text);
    DWORD mode, written;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text, static_cast<DWORD>(units), &written, nullptr);
        return;
    }
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    char* utf8 = static_cast<char*>(allocBytes(static_cast<size_t>(bytes) + 1));
    if (!utf8) return;
    WideCharToMultiByte(CP_UTF8, 0, text, units, utf8, bytes, nullptr, nullptr);
    WriteFile(output, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    freeBytes(utf8);
}

namespace {

void writeLine(HANDLE output, const wchar_t* first, const wchar_t* second) {
    writeText(output, first);
    writeText(output, second);
    writeText(output, L"\r\n");
}

intptr_t writeToConsole(void* output, StatusCode code, uintptr_t argument, const Utf16*) {
    if (code == kLine) writeLine(output, reinterpret_cast<const wchar_t*>(argument), L"");
    return 1;
}

}  // namespace

bool loadPart(const wchar_t* path, HANDLE output, ModelPart* part) {
    LoadJob* job = static_cast<LoadJob*>(allocBytes(sizeof(LoadJob)));
    if (!job) return false;
    bool loaded = makeFileNameList(path, &job->fileList);
    if (loaded) {
        initLoadJob(job, &job->fileList, nullptr, nullptr);
        runLoadJob(job);
        if (job->messages.used) writeText(output, static_cast<const wchar_t*>(job->messages.data));
        loaded = job->parts.used >= sizeof(ModelPart);
        if (loaded) *part = *static_cast<ModelPart*>(job->parts.data);
        releaseLoadJob(job);
    } else {
        freeBytes(job);
    }
    if (!loaded) writeLine(output, path, L": not loaded as an STL file");
    return loaded;
}

namespace {

void applySettings(PictureRequest* request) {
    Preferences preferences;
    openSettingsKeys(preferences.keys);
    readPreferences(&preferences);
    CameraAngles angles = readStartAngles(preferences.keys);
    closeSettingsKeys(preferences.keys);
    request->look.objectColor = preferences.values[kSettingObjectColor];
    request->look.overhangs.degrees = static_cast<float>(preferences.values[kSettingOverhangAngle]);
    if (!request->ownBackground) request->look.backgroundColor = preferences.values[kSettingBackgroundColor] | kOpaque;
    if (request->startView) {
        request->look.yaw = angles.yaw;
        request->look.pitch = angles.pitch;
    }
}

// The section's share of the parts' box along its axis; a plane outside the
// box cuts nothing, and the console says so.
void placeSection(PictureRequest* request, const ModelPart* parts, int count, HANDLE output) {
    int axis = request->look.section.axis;
    float low = INFINITY, high = -INFINITY;
    for (int i = 0; i < count; ++i) {
        const GpuMesh* mesh = static_cast<const GpuMesh*>(parts[i].gpuMesh);
        float meshLow, meshHigh;
        memcpy(&meshLow, reinterpret_cast<const char*>(mesh->boundsMin) + axis * sizeof(float), sizeof meshLow);
        memcpy(&meshHigh, reinterpret_cast<const char*>(mesh->boundsMax) + axis * sizeof(float), sizeof meshHigh);
        if (meshLow < low) low = meshLow;
        if (meshHigh > high) high = meshHigh;
    }
    float share;  // the plane's record is packed: its share is no float to point at
    SectionSide side = placeSectionRequest(&request->sectionRequest, low, high, &share);
    request->look.section.share = share;
    if (side == SectionSide::kWithin) return;
    wchar_t line[kSectionOutsideTextCapacity];
    formatSectionOutside(line, &request->sectionRequest, side, low, high, kUserLocale);
    writeLine(output, line, L"");
}

int drawRequest(PictureRequest* request, HANDLE output) {
    ModelPart parts[kMaxParts];
    int loaded = 0;
    for (int i = 0; i < request->fileCount; ++i) loaded += loadPart(request->files[i], output, &parts[loaded]);
    if (loaded < request->fileCount) return kPictureFailed;
    if (request->section) placeSection(request, parts, loaded, output);
    ConvertingSink sink;
    initConvertingSink(&sink, MessageSink{output, writeToConsole});
    Picture picture;
    bool written = renderPartsPicture(parts, static_cast<uint32_t>(loaded), &request->look, &picture, &sink.self) &&
                   writePngFile(request->output, &picture, &sink.self);
    freePicture(&picture);
    if (!written) {
        writeLine(output, request->output, L": picture not written");
        return kPictureFailed;
    }
    wchar_t fullPath[MAX_PATH];
    DWORD length = GetFullPathNameW(request->output, MAX_PATH, fullPath, nullptr);
    writeLine(output, L"Picture written to ", length && length < MAX_PATH ? fullPath : request->output);
    return kPictureWritten;
}

}  // namespace

bool isHelpArgument(const wchar_t* argument) {
    return lstrcmpW(argument, L"--help") == 0 || lstrcmpW(argument, L"-h") == 0 || lstrcmpW(argument, L"/?") == 0;
}

CommandLineKind commandLineKind(int argumentCount, wchar_t** arguments) {
    CommandLineKind kind = CommandLineKind::kWindow;
    bool save = false;
    for (int i = 1; i < argumentCount; ++i) {
        if (isHelpArgument(arguments[i])) return CommandLineKind::kHelp;
        save = save || lstrcmpW(arguments[i], L"--save") == 0 || lstrcmpW(arguments[i], L"--repair") == 0;
        if (lstrcmpW(arguments[i], L"--version") == 0) kind = CommandLineKind::kVersion;
        // An unknown option too: refused by name rather than opened as a file.
        else if (kind == CommandLineKind::kWindow && arguments[i][0] == L'-' && arguments[i][1] == L'-')
            kind = CommandLineKind::kPicture;
    }
    return save ? CommandLineKind::kSave : kind;
}

int printUsage() {
    writeLine(consoleOutput(), kUsage, L"");
    return kPictureWritten;
}

int runPictureMode(int argumentCount, wchar_t** arguments) {
    HANDLE output = consoleOutput();
    PictureRequest request;
    CommandLineFault fault;
    if (!parseRequest(argumentCount, arguments, &request, &fault)) {
        writeText(output, fault.subject);
        if (fault.value) {
            writeText(output, L" ");
            writeText(output, fault.value);
        }
        if (fault.problem) {
            writeText(output, L": ");
            writeText(output, fault.problem);
        }
        for (size_t i = 0; fault.listOptions && i < sizeof kOptions / sizeof kOptions[0]; ++i) {
            writeText(output, i ? L", " : L" ");
            writeText(output, kOptions[i].name);
        }
        if (fault.listOptions) writeText(output, kOtherOptions);
        writeText(output, L"\r\n");
        writeLine(output, kUsage, L"");
        return kPictureBadCommand;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    applySettings(&request);
    return drawRequest(&request, output);
}
