#include "app/preferences.h"

#include "app/print_choice.h"
#include "view/view_control.h"

namespace {

constexpr wchar_t kMakerPath[] = L"Software\\Veldmark";
constexpr wchar_t kApplicationPath[] = L"Software\\Veldmark\\STL Viewer";
constexpr DWORD kPlacementSize = 44;
constexpr uint32_t kAnyValue = 0xFFFFFFFF;
constexpr uint32_t kOpaque = 0xFF000000;

bool localeMeasuresInUsUnits() {
    DWORD system = 0;
    if (!GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IMEASURE | LOCALE_RETURN_NUMBER, reinterpret_cast<LPWSTR>(&system),
                        sizeof system / sizeof(wchar_t)))
        return false;
    return system != 0;
}

uint32_t workspaceColor() {
    return GetSysColor(COLOR_APPWORKSPACE) | kOpaque;
}

// The settings table, in the order of Setting.
const SettingRow kSettings[] = {
    {L"FlipZoom", kMakerKey, kSettingFlag, 0, nullptr, 1, kCommandFlipZoom, setFlipZoom},
    {L"Units", kMakerKey, kSettingNumber, kUnitsAutomatic, nullptr, kUnitsInches, Command{}, nullptr},
    {L"AlwaysRotate", kApplicationKey, kSettingFlag, 0, nullptr, 1, kCommandAlwaysRotate, setAlwaysRotate},
    {L"SingleInstance", kApplicationKey, kSettingFlag, 0, nullptr, 1, kCommandSingleInstance, nullptr},
    {L"ShowProblems", kApplicationKey, kSettingFlag, 0, nullptr, 1, kCommandShowProblems, setShowProblems},
    {L"ReloadOnChange", kApplicationKey, kSettingFlag, 1, nullptr, 1, kCommandReloadOnChange, nullptr},
    {L"DefaultObjectColor", kMakerKey, kSettingColor, kDefaultObjectColor, nullptr, kAnyValue, Command{}, nullptr},
    {L"DefaultBackgroundColor", kMakerKey, kSettingColor, 0, workspaceColor, kAnyValue, Command{}, nullptr},
    {L"InitialEyePitchDegrees", kApplicationKey, kSettingNumber, kDefaultPitchDegrees, nullptr, kAnyValue, Command{},
     nullptr},
    {L"InitialEyeYawDegrees", kApplicationKey, kSettingNumber, kDefaultYawDegrees, nullptr, kAnyValue, Command{},
     nullptr},
    {L"RenderMode", kApplicationKey, kSettingNumber, kRenderSolid, nullptr, kRenderOutline, Command{}, nullptr},
    {L"Placement", kApplicationKey, kSettingBlock, 0, nullptr, 0, Command{}, nullptr},
    {L"RecentFiles", kApplicationKey, kSettingBlock, 0, nullptr, 0, Command{}, nullptr},
    {L"PrintMaterial", kApplicationKey, kSettingNumber, 0, nullptr, kOtherMaterial, Command{}, nullptr},
    {L"PrintMaterialDensity", kApplicationKey, kSettingNumber, kDefaultDensityMilli, nullptr, kMostDensityMilli,
     Command{}, nullptr},
    {L"Printer", kApplicationKey, kSettingNumber, kNoPrinter, nullptr, kOtherPrinter, Command{}, nullptr},
    {L"PrinterWidth", kApplicationKey, kSettingNumber, 25000, nullptr, kMostPrinterSize, Command{}, nullptr},
    {L"PrinterDepth", kApplicationKey, kSettingNumber, 21000, nullptr, kMostPrinterSize, Command{}, nullptr},
    {L"PrinterHeight", kApplicationKey, kSettingNumber, 22000, nullptr, kMostPrinterSize, Command{}, nullptr},
    {L"ShowOverhangs", kApplicationKey, kSettingFlag, 0, nullptr, 1, kCommandShowOverhangs, setShowOverhangs},
    {L"OverhangAngle", kApplicationKey, kSettingNumber, kDefaultOverhangAngle, nullptr, kMostOverhangAngle, Command{},
     nullptr},
    {L"EscapeCloses", kApplicationKey, kSettingFlag, 1, nullptr, 1, kCommandEscapeCloses, nullptr},
};
static_assert(sizeof kSettings / sizeof kSettings[0] == kSettingCount);

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

uint32_t fallbackOf(const SettingRow& row) {
    return row.fallbackOf ? row.fallbackOf() : row.fallback;
}

}  // namespace

DisplayUnits displayUnitsOf(uint32_t choice) {
    if (choice == kUnitsMillimetres) return DisplayUnits::kMillimetres;
    if (choice == kUnitsInches) return DisplayUnits::kInches;
    return localeMeasuresInUsUnits() ? DisplayUnits::kInches : DisplayUnits::kMetric;
}

const SettingRow& settingRow(Setting setting) {
    return kSettings[setting];
}

bool settingToggledBy(WORD command, Setting* setting) {
    for (int k = 0; k < kSettingCount; ++k)
        if (kSettings[k].command && kSettings[k].command == command) {
            *setting = static_cast<Setting>(k);
            return true;
        }
    return false;
}

void openSettingsKeys(HKEY keys[2]) {
    keys[kApplicationKey] = createKey(kApplicationPath);
    keys[kMakerKey] = createKey(kMakerPath);
}

void openSettingsKeysToRead(HKEY keys[2]) {
    const wchar_t* paths[2] = {kApplicationPath, kMakerPath};
    for (int slot = 0; slot < 2; ++slot)
        if (RegOpenKeyExW(HKEY_CURRENT_USER, paths[slot], 0, KEY_READ, &keys[slot]) != ERROR_SUCCESS) keys[slot] = nullptr;
}

void closeSettingsKeys(HKEY keys[2]) {
    for (int slot = 0; slot < 2; ++slot) {
        if (keys[slot]) RegCloseKey(keys[slot]);
        keys[slot] = nullptr;
    }
}

uint32_t readSetting(const HKEY keys[2], Setting setting) {
    const SettingRow& row = kSettings[setting];
    DWORD stored;
    if (row.kind == kSettingBlock || !readValue(keys, row.name, RRF_RT_REG_DWORD, &stored, sizeof stored))
        return fallbackOf(row);
    switch (row.kind) {
    case kSettingFlag: return stored != 0;
    case kSettingColor: return reverseBytes(stored);
    default: return stored <= row.limit ? stored : fallbackOf(row);
    }
}

void readPreferences(Preferences* preferences) {
    for (int k = 0; k < kSettingCount; ++k)
        preferences->values[k] = readSetting(preferences->keys, static_cast<Setting>(k));
}

bool writeSetting(Preferences* preferences, Setting setting, uint32_t value, const MessageSink* sink) {
    const SettingRow& row = kSettings[setting];
    if (row.kind == kSettingFlag) value = value != 0;
    preferences->values[setting] = value;
    DWORD stored = row.kind == kSettingColor ? reverseBytes(value) | 0xFF : value;
    return writeSettingBlock(preferences->keys, setting, REG_DWORD, &stored, sizeof stored, sink);
}

bool writeSettingBlock(const HKEY keys[2], Setting setting, DWORD type, const void* data, DWORD size,
                       const MessageSink* sink) {
    const SettingRow& row = kSettings[setting];
    HKEY key = keys[row.slot];
    if (!key) return false;
    LSTATUS error = RegSetValueExW(key, row.name, 0, type, static_cast<const BYTE*>(data), size);
    if (error == ERROR_SUCCESS) return true;
    SettingFailure failure{key, row.name, static_cast<uint32_t>(error)};
    if (sink) report(sink, kErrSettingNotSaved, reinterpret_cast<uintptr_t>(&failure));
    return false;
}

CameraAngles readStartAngles(const HKEY keys[2]) {
    return CameraAngles{degreesToAngle(static_cast<int32_t>(readSetting(keys, kSettingStartYaw))),
                        degreesToAngle(static_cast<int32_t>(readSetting(keys, kSettingStartPitch)))};
}

uint32_t binaryAngleToDegrees(BinaryAngle angle) {
    uint64_t units = static_cast<uint32_t>(angle);
    return static_cast<uint32_t>((units + kDegreeUnits / 2) / kDegreeUnits % 360);
}

bool writeStartAngles(Preferences* preferences, CameraAngles angles, const MessageSink* sink) {
    return writeSetting(preferences, kSettingStartPitch, binaryAngleToDegrees(angles.pitch), sink) &&
           writeSetting(preferences, kSettingStartYaw, binaryAngleToDegrees(angles.yaw), sink);
}

bool applyStoredPlacement(const HKEY keys[2], HWND dialog) {
    WINDOWPLACEMENT placement;
    if (!readValue(keys, kSettings[kSettingPlacement].name, RRF_RT_REG_BINARY, &placement, kPlacementSize))
        return false;
    SetWindowPlacement(dialog, &placement);
    return true;
}

bool writePlacement(const HKEY keys[2], HWND dialog) {
    WINDOWPLACEMENT placement;
    placement.length = kPlacementSize;
    if (!GetWindowPlacement(dialog, &placement)) return false;
    if (placement.showCmd == SW_SHOWMINIMIZED || placement.showCmd == SW_MINIMIZE)
        placement.showCmd = placement.flags & WPF_RESTORETOMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    // Silent: the process ends right after, with nowhere to show a message.
    return writeSettingBlock(keys, kSettingPlacement, REG_BINARY, &placement, kPlacementSize, nullptr);
}

void savePlacementAndExit(const HKEY keys[2], HWND dialog) {
    if (keys) writePlacement(keys, dialog);
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(0);  // not reached; keeps the no-return promise
}
