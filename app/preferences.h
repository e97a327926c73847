// The user's preferences and the window placement in the per-user registry,
// declared once in the settings table: every value is looked for in the
// application key first, then in the maker key, and written to the key its
// row names.
#pragma once
#include <windows.h>

#include "app/window_ids.h"
#include "core/status.h"
#include "numfmt/length_format.h"
#include "view/camera.h"

enum SettingsSlot : uint8_t { kApplicationKey = 0, kMakerKey = 1 };

enum SettingKind : uint8_t {
    kSettingFlag,    // a DWORD, any nonzero value on; written as 0 or 1
    kSettingNumber,  // a DWORD up to the row's limit
    kSettingColor,   // a DWORD of red, green, blue and alpha from the most significant byte down
    kSettingBlock,   // anything else, read and written by its own module (placement, recent files)
};

struct SettingRow {
    const wchar_t* name;
    SettingsSlot slot;  // the key it is written to
    SettingKind kind;
    uint32_t fallback;        // the value while none is stored; colours with red in the low byte
    uint32_t (*fallbackOf)();  // or made when asked, where it depends on the system; else null
    uint32_t limit;           // a stored number above it reads as the fallback
    Command command;          // the menu item that toggles a flag; 0 for none
    void (*apply)(void* view, bool on);  // what a flag does to the view; null for nothing
};

const SettingRow& settingRow(Setting setting);
// The flag a command toggles; false when it toggles none.
bool settingToggledBy(WORD command, Setting* setting);

// What a first start shows.
constexpr uint32_t kDefaultPitchDegrees = 331;
constexpr uint32_t kDefaultYawDegrees = 28;
constexpr uint32_t kDefaultObjectColor = 0xFFF0F0F0;
// The overhang angle in degrees from vertical, and the menu's choices.
constexpr uint32_t kDefaultOverhangAngle = 45;
constexpr uint32_t kMostOverhangAngle = 89;
constexpr uint32_t kFirstMenuOverhangAngle = 30;
constexpr uint32_t kOverhangAngleStep = 5;
constexpr uint32_t kMenuOverhangAngles = 7;

// View > Units, as the Units setting stores it.
enum UnitsChoice : uint32_t { kUnitsAutomatic = 0, kUnitsMillimetres = 1, kUnitsInches = 2 };
// Automatic: inches where the user's locale measures in US units, else the
// metric unit each line's largest length takes.
DisplayUnits displayUnitsOf(uint32_t choice);

struct Preferences {
    HKEY keys[2];  // application key, maker key; either may be null
    uint32_t values[kSettingCount];  // nothing for the kSettingBlock rows
};

inline bool flagOn(const Preferences* preferences, Setting setting) {
    return preferences->values[setting] != 0;
}

inline DisplayUnits shownUnits(const Preferences* preferences) {
    return displayUnitsOf(preferences->values[kSettingUnits]);
}

// Opens or creates both keys; a key that cannot be had stays null.
void openSettingsKeys(HKEY keys[2]);
// Both keys for reading only, where they are: the preview host runs at low
// integrity, which may read the user's keys but not open them for writing.
void openSettingsKeysToRead(HKEY keys[2]);
void closeSettingsKeys(HKEY keys[2]);

// The stored value of a row that is not a block, or its fallback.
uint32_t readSetting(const HKEY keys[2], Setting setting);
// Every value of the table into the record.
void readPreferences(Preferences* preferences);
// Keeps the new value for the run and writes it to the row's key; a failed
// write is reported and answers false.
bool writeSetting(Preferences* preferences, Setting setting, uint32_t value, const MessageSink* sink);
// A value of any registry type to the row's key, reported like a failed flag.
bool writeSettingBlock(const HKEY keys[2], Setting setting, DWORD type, const void* data, DWORD size,
                       const MessageSink* sink);

// The eye angles a model is first shown with and Reset view returns to, as
// stored now (another window may have set them since).
CameraAngles readStartAngles(const HKEY keys[2]);
// Stores the angles as the start angles, in whole degrees from 0 to 359,
// each rounded to the nearest degree.
bool writeStartAngles(Preferences* preferences, CameraAngles angles, const MessageSink* sink);
// The whole degree from 0 to 359 nearest to a binary angle.
uint32_t binaryAngleToDegrees(BinaryAngle angle);

// Applies a stored placement to the dialog; false when none is stored.
bool applyStoredPlacement(const HKEY keys[2], HWND dialog);
// Writes the dialog's placement to the application key; a minimised window is
// stored as it would be restored, so that the next start is not minimised.
bool writePlacement(const HKEY keys[2], HWND dialog);
// The close path: the placement goes to the application key, then the process ends.
[[noreturn]] void savePlacementAndExit(const HKEY keys[2], HWND dialog);
