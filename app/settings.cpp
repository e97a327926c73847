#include "app/settings.h"

namespace {

constexpr wchar_t kMakerPath[] = L"Software\\Veldmark";
constexpr wchar_t kApplicationPath[] = L"Software\\Veldmark\\STL Viewer";
constexpr int32_t kUnitsPerDegree = 11930465;
constexpr DWORD kPlacementSize = 44;

#pragma pack(push, 1)
// What a failed write reports, beside its status code.
struct SettingWriteFailure {
    HKEY key;
    const wchar_t* name;
    uint32_t error;
};
#pragma pack(pop)

HKEY createKey(const wchar_t* path) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool readValue(const HKEY keys[2], const wchar_t* name, DWORD restriction, void* data, DWORD size) {
    for (int slot = 0; slot < 2; ++slot) {
        DWORD read = size;
        if (keys[slot] && RegGetValueW(keys[slot], nullptr, name, restriction, nullptr, data, &read) == ERROR_SUCCESS &&
            read == size)
            return true;
    }
    return false;
}

uint32_t reverseBytes(uint32_t value) {
    return (value >> 24) | (value >> 8 & 0xFF00) | (value << 8 & 0xFF0000) | (value << 24);
}

bool usesUsUnits() {
    DWORD system = 0;
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&system),
                        sizeof system / sizeof(wchar_t)))
        return false;
    return system != 0;
}

void readFlag(uint8_t* flag, const HKEY keys[2], const wchar_t* name) {
    bool value = *flag != 0;
    readSettingBool(&value, keys, name);
    *flag = value;
}

}  // namespace

void openSettingsKeys(HKEY keys[2]) {
    keys[kApplicationKey] = createKey(kApplicationPath);
    keys[kMakerKey] = createKey(kMakerPath);
}

bool readSettingDword(DWORD* value, const HKEY keys[2], const wchar_t* name) {
    DWORD read;
    if (!readValue(keys, name, RRF_RT_REG_DWORD, &read, sizeof read)) return false;
    *value = read;
    return true;
}

bool readSettingBool(bool* flag, const HKEY keys[2], const wchar_t* name) {
    DWORD value;
    if (!readSettingDword(&value, keys, name)) return false;
    *flag = value != 0;
    return true;
}

bool readSettingColor(uint32_t* color, const HKEY keys[2], const wchar_t* name) {
    DWORD value;
    if (!readSettingDword(&value, keys, name)) return false;
    *color = reverseBytes(value);
    return true;
}

bool writeSettingDword(const HKEY keys[2], SettingsSlot slot, DWORD value, const wchar_t* name,
                       const MessageSink* sink) {
    return writeSettingValue(keys, slot, name, REG_DWORD, &value, sizeof value, sink);
}

bool writeSettingValue(const HKEY keys[2], SettingsSlot slot, const wchar_t* name, DWORD type, const void* data,
                       DWORD size, const MessageSink* sink) {
    if (!keys[slot]) return false;
    LSTATUS error = RegSetValueExW(keys[slot], name, 0, type, static_cast<const BYTE*>(data), size);
    if (error == ERROR_SUCCESS) return true;
    SettingWriteFailure failure{keys[slot], name, static_cast<uint32_t>(error)};
    if (sink) report(sink, kSettingWriteFailed, reinterpret_cast<uintptr_t>(&failure));
    return false;
}

bool writeSettingColor(const HKEY keys[2], SettingsSlot slot, uint32_t color, const wchar_t* name,
                       const MessageSink* sink) {
    return writeSettingDword(keys, slot, reverseBytes(color) | 0xFF, name, sink);
}

int32_t degreesToBinaryAngle(DWORD degrees) {
    return static_cast<int32_t>(degrees * static_cast<uint32_t>(kUnitsPerDegree));
}

ViewAngles readStartAngles(const HKEY keys[2]) {
    DWORD pitch = kDefaultPitchDegrees, yaw = kDefaultYawDegrees;
    readSettingDword(&pitch, keys, L"InitialEyePitchDegrees");
    readSettingDword(&yaw, keys, L"InitialEyeYawDegrees");
    return ViewAngles{degreesToBinaryAngle(yaw), degreesToBinaryAngle(pitch)};
}

DWORD binaryAngleToDegrees(int32_t angle) {
    uint64_t units = static_cast<uint32_t>(angle);
    return static_cast<DWORD>((units + kUnitsPerDegree / 2) / kUnitsPerDegree % 360);
}

bool writeStartAngles(const HKEY keys[2], ViewAngles angles, const MessageSink* sink) {
    return writeSettingDword(keys, kApplicationKey, binaryAngleToDegrees(angles.pitch), L"InitialEyePitchDegrees",
                             sink) &&
           writeSettingDword(keys, kApplicationKey, binaryAngleToDegrees(angles.yaw), L"InitialEyeYawDegrees", sink);
}

uint8_t readRenderMode(const HKEY keys[2]) {
    DWORD mode = 0;
    readSettingDword(&mode, keys, L"RenderMode");
    return mode <= 2 ? static_cast<uint8_t>(mode) : 0;
}

ViewAngles readSettings(MainDialogState* state) {
    const HKEY* keys = state->settingsKeys;
    state->flipZoom = 0;
    state->usUnits = usesUsUnits();
    state->alwaysRotate = 0;
    state->singleInstance = 0;
    state->showProblems = 0;
    readFlag(&state->flipZoom, keys, L"FlipZoom");
    readFlag(&state->usUnits, keys, L"USUnits");
    readFlag(&state->alwaysRotate, keys, L"AlwaysRotate");
    readFlag(&state->singleInstance, keys, L"SingleInstance");
    readFlag(&state->showProblems, keys, L"ShowProblems");
    ViewAngles angles = readViewLook(keys, &state->defaultObjectColor, &state->defaultBackgroundColor);
    WINDOWPLACEMENT placement;
    if (readValue(keys, L"Placement", RRF_RT_REG_BINARY, &placement, kPlacementSize))
        SetWindowPlacement(state->dialog, &placement);
    return angles;
}

ViewAngles readViewLook(const HKEY keys[2], uint32_t* objectColor, uint32_t* backgroundColor) {
    *objectColor = kDefaultObjectColor;
    *backgroundColor = GetSysColor(COLOR_APPWORKSPACE) | 0xFF000000;
    readSettingColor(objectColor, keys, L"DefaultObjectColor");
    readSettingColor(backgroundColor, keys, L"DefaultBackgroundColor");
    return readStartAngles(keys);
}

bool writePlacement(const HKEY keys[2], HWND dialog) {
    WINDOWPLACEMENT placement;
    placement.length = kPlacementSize;
    if (!keys[kApplicationKey] || !GetWindowPlacement(dialog, &placement)) return false;
    if (placement.showCmd == SW_SHOWMINIMIZED || placement.showCmd == SW_MINIMIZE)
        placement.showCmd = placement.flags & WPF_RESTORETOMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    return RegSetValueExW(keys[kApplicationKey], L"Placement", 0, REG_BINARY,
                          reinterpret_cast<const BYTE*>(&placement), kPlacementSize) == ERROR_SUCCESS;
}

void savePlacementAndExit(MainDialogState* state, HWND dialog) {
    if (state) writePlacement(state->settingsKeys, dialog);
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(0);  // not reached; keeps the no-return promise
}
