// Preferences and the window placement in the per-user registry: every value
// is looked for in the application key first, then in the maker key.
#pragma once
#include <windows.h>

#include "app/main_dialog.h"

enum SettingsSlot { kApplicationKey = 0, kMakerKey = 1 };

constexpr StatusCode kSettingWriteFailed = 0x80000b02;

// What a first start shows.
constexpr DWORD kDefaultPitchDegrees = 331;
constexpr DWORD kDefaultYawDegrees = 28;
constexpr uint32_t kDefaultObjectColor = 0xFFF0F0F0;

struct ViewAngles {
    int32_t yaw;
    int32_t pitch;
};

// Opens or creates both keys; a key that cannot be had stays null.
void openSettingsKeys(HKEY keys[2]);

bool readSettingBool(bool* flag, const HKEY keys[2], const wchar_t* name);
bool readSettingDword(DWORD* value, const HKEY keys[2], const wchar_t* name);
bool readSettingColor(uint32_t* color, const HKEY keys[2], const wchar_t* name);
bool writeSettingDword(const HKEY keys[2], SettingsSlot slot, DWORD value, const wchar_t* name,
                       const MessageSink* sink);
// Any value; a failure is reported like a failed flag.
bool writeSettingValue(const HKEY keys[2], SettingsSlot slot, const wchar_t* name, DWORD type, const void* data,
                       DWORD size, const MessageSink* sink);
bool writeSettingColor(const HKEY keys[2], SettingsSlot slot, uint32_t color, const wchar_t* name,
                       const MessageSink* sink);

// Degrees to the view's binary angle, wrapping in 32 bits.
int32_t degreesToBinaryAngle(DWORD degrees);

// The default material and background colours and the start angles, each
// from the settings or, where they hold none, as on a first start.
ViewAngles readViewLook(const HKEY keys[2], uint32_t* objectColor, uint32_t* backgroundColor);
// The eye angles a model is first shown with (InitialEyePitchDegrees and
// InitialEyeYawDegrees, or their defaults).
ViewAngles readStartAngles(const HKEY keys[2]);

// Stores the angles as the start angles, in whole degrees from 0 to 359,
// each rounded to the nearest degree.
bool writeStartAngles(const HKEY keys[2], ViewAngles angles, const MessageSink* sink);
// The whole degree from 0 to 359 nearest to a binary angle.
DWORD binaryAngleToDegrees(int32_t angle);
// RenderMode as saved by the mode commands; Solid when none or an unknown one is stored.
uint8_t readRenderMode(const HKEY keys[2]);

// Reads every preference into the state (defaults first) and applies a stored
// placement to the dialog; returns the initial eye angles.
ViewAngles readSettings(MainDialogState* state);

// Writes the dialog's placement to the application key; a minimised window is
// stored as it would be restored, so that the next start is not minimised.
bool writePlacement(const HKEY keys[2], HWND dialog);

// The close path: the placement goes to the application key, then the process ends.
[[noreturn]] void savePlacementAndExit(MainDialogState* state, HWND dialog);
