#include "app/picture_mode.h"

#include <objbase.h>

#include "app/picture_file.h"
#include "app/settings.h"
#include "core/converting_sink.h"
#include "core/memory.h"
#include "view/camera.h"

namespace {

constexpr int kMaxPictureFiles = 4;
constexpr int32_t kDefaultWidth = 1280;
constexpr int32_t kDefaultHeight = 960;
constexpr uint32_t kOpaque = 0xFF000000;

struct PictureRequest {
    const wchar_t* output;
    const wchar_t* files[kMaxPictureFiles];
    int fileCount;
    PictureLook look;
    bool startView;  // the settings' start angles rather than a preset
    bool ownBackground;
};

struct NamedValue {
    const wchar_t* name;
    int value;
};

const NamedValue kModes[] = {{L"solid", kRenderSolid}, {L"outline", kRenderOutline}, {L"wireframe", kRenderWireframe}};
const NamedValue kViews[] = {{L"start", -1}, {L"top", kViewTop}, {L"left", kViewLeft}, {L"front", kViewFront}};

template <size_t count>
bool lookUp(const NamedValue (&table)[count], const wchar_t* text, int* value) {
    for (const NamedValue& entry : table) {
        if (lstrcmpW(entry.name, text) != 0) continue;
        *value = entry.value;
        return true;
    }
    return false;
}

// Decimal digits up to `end` or the terminator; false for none, others or overflow.
bool parseSide(const wchar_t** text, wchar_t end, int32_t* side) {
    int32_t value = 0;
    const wchar_t* at = *text;
    for (; *at && *at != end; ++at) {
        if (*at < L'0' || *at > L'9' || value > kMaxPictureSide) return false;
        value = value * 10 + (*at - L'0');
    }
    if (at == *text || value < 1 || value > kMaxPictureSide) return false;
    *text = at;
    *side = value;
    return true;
}

bool parseSize(const wchar_t* text, PictureLook* look) {
    return parseSide(&text, L'x', &look->width) && *text++ == L'x' && parseSide(&text, 0, &look->height);
}

// RRGGBB as on web pages; red lands in the low byte.
bool parseColour(const wchar_t* text, uint32_t* colour) {
    uint32_t value = 0;
    int digits = 0;
    for (; text[digits]; ++digits) {
        wchar_t c = text[digits];
        uint32_t nibble = c >= L'0' && c <= L'9' ? c - L'0' : (c | 0x20) >= L'a' && (c | 0x20) <= L'f' ? (c | 0x20) - L'a' + 10 : 16;
        if (nibble > 15 || digits == 6) return false;
        value = value << 4 | nibble;
    }
    if (digits != 6) return false;
    *colour = kOpaque | (value >> 16) | (value & 0xFF00) | (value & 0xFF) << 16;
    return true;
}

bool parseOption(const wchar_t* option, const wchar_t* value, PictureRequest* request) {
    int number;
    if (lstrcmpW(option, L"--picture") == 0) {
        request->output = value;
        return true;
    }
    if (lstrcmpW(option, L"--size") == 0) return parseSize(value, &request->look);
    if (lstrcmpW(option, L"--background") == 0)
        return request->ownBackground = parseColour(value, &request->look.backgroundColor);
    if (lstrcmpW(option, L"--mode") == 0 && lookUp(kModes, value, &number)) {
        request->look.mode = static_cast<RenderMode>(number);
        return true;
    }
    if (lstrcmpW(option, L"--view") == 0 && lookUp(kViews, value, &number)) {
        request->startView = number < 0;
        if (number >= 0) {
            CameraAngles angles = presetAngles(static_cast<ViewPreset>(number));
            request->look.yaw = angles.yaw;
            request->look.pitch = angles.pitch;
        }
        return true;
    }
    return false;
}

bool parseRequest(int argumentCount, wchar_t** arguments, PictureRequest* request) {
    request->output = nullptr;
    request->fileCount = 0;
    request->look = PictureLook{kDefaultWidth, kDefaultHeight, kRenderSolid, 0, 0, 0, 0};
    request->startView = true;
    request->ownBackground = false;
    for (int i = 1; i < argumentCount; ++i) {
        const wchar_t* argument = arguments[i];
        if (argument[0] == L'-' && argument[1] == L'-') {
            if (i + 1 >= argumentCount || !parseOption(argument, arguments[i + 1], request)) return false;
            ++i;
        } else if (request->fileCount < kMaxPictureFiles) {
            request->files[request->fileCount++] = argument;
        } else {
            return false;
        }
    }
    return request->output && request->output[0] && request->fileCount > 0;
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

// One file through a load job of its own, so that each failure is known;
// its messages are written as the messages box would show them.
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

void applySettings(PictureRequest* request) {
    HKEY keys[2];
    openSettingsKeys(keys);
    uint32_t background;
    ViewAngles angles = readViewLook(keys, &request->look.objectColor, &background);
    for (HKEY key : keys)
        if (key) RegCloseKey(key);
    if (!request->ownBackground) request->look.backgroundColor = background | kOpaque;
    if (request->startView) {
        request->look.yaw = angles.yaw;
        request->look.pitch = angles.pitch;
    }
}

int drawRequest(const PictureRequest* request, HANDLE output) {
    ModelPart parts[kMaxPictureFiles];
    int loaded = 0;
    for (int i = 0; i < request->fileCount; ++i) loaded += loadPart(request->files[i], output, &parts[loaded]);
    if (loaded < request->fileCount) return kPictureFailed;
    ConvertingSink sink;
    initConvertingSink(&sink, MessageSink{output, writeToConsole});
    Picture picture;
    bool written = renderPartsPicture(parts, static_cast<uint32_t>(loaded), &request->look, &picture, &sink.self) &&
                   writePngFile(request->output, &picture, &sink.self);
    freePicture(&picture);
    if (!written) writeLine(output, request->output, L": picture not written");
    return written ? kPictureWritten : kPictureFailed;
}

}  // namespace

bool isPictureCommandLine(int argumentCount, wchar_t** arguments) {
    for (int i = 1; i < argumentCount; ++i)
        if (lstrcmpW(arguments[i], L"--picture") == 0) return true;
    return false;
}

int runPictureMode(int argumentCount, wchar_t** arguments) {
    HANDLE output = consoleOutput();
    PictureRequest request;
    if (!parseRequest(argumentCount, arguments, &request)) {
        writeText(output,
                  L"usage: stlview --picture OUT.png [--size WxH] [--mode solid|outline|wireframe] "
                  L"[--view start|top|left|front] [--background RRGGBB] FILE... (at most four files)\r\n");
        return kPictureBadCommand;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
    applySettings(&request);
    return drawRequest(&request, output);
}
