#include "app/slicer_discovery.h"

#include <shlobj.h>

namespace {

struct SlicerKind {
    const wchar_t* name;
    // The program's file names, the newer versions' first (Cura 5 renamed Cura.exe).
    const wchar_t* programs[2];
    const wchar_t* displayName;  // how its uninstall entry's DisplayName begins (any case)
    // Where its installer puts it below Program Files; a * stands for a version ("UltiMaker Cura 5.7.1").
    const wchar_t* folders[2];
};

const SlicerKind kKinds[kSlicerKinds] = {
    {L"PrusaSlicer", {L"prusa-slicer.exe", nullptr}, L"PrusaSlicer", {L"Prusa3D\\PrusaSlicer", L"PrusaSlicer"}},
    {L"Bambu Studio", {L"bambu-studio.exe", nullptr}, L"Bambu Studio", {L"Bambu Studio", L"BambuStudio"}},
    {L"OrcaSlicer", {L"orca-slicer.exe", nullptr}, L"OrcaSlicer", {L"OrcaSlicer", L"Orca Slicer"}},
    // Cura 4 as "Ultimaker Cura 4.13.1", the same names in another case.
    {L"Cura", {L"UltiMaker-Cura.exe", L"Cura.exe"}, L"UltiMaker Cura", {L"UltiMaker Cura *", nullptr}},
};

const wchar_t kAppPaths[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const wchar_t kUninstall[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const HKEY kRoots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
const REGSAM kViews[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};

bool isFile(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A string value, terminated (REG_EXPAND_SZ expanded), without surrounding quotes.
bool readString(HKEY key, const wchar_t* name, wchar_t* out, uint32_t capacity) {
    wchar_t raw[kSlicerPathUnits];
    DWORD type = 0, bytes = sizeof raw - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(raw), &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    raw[bytes / sizeof(wchar_t)] = 0;
    if (type == REG_EXPAND_SZ) {
        DWORD units = ExpandEnvironmentStringsW(raw, out, capacity);
        if (units == 0 || units > capacity) return false;
    }
    else lstrcpynW(out, raw, capacity);
    if (*out == '"') {
        wchar_t* close = out + 1;
        while (*close && *close != '"') ++close;
        *close = 0;
        MoveMemory(out, out + 1, (close - out) * sizeof(wchar_t));
    }
    return *out != 0;
}

bool endsWithProgram(const wchar_t* path, const wchar_t* program) {
    int length = lstrlenW(path), programLength = lstrlenW(program);
    return length > programLength && path[length - programLength - 1] == '\\' &&
           lstrcmpiW(path + length - programLength, program) == 0;
}

// folder\program when it fits and exists.
bool programIn(const wchar_t* folder, const wchar_t* program, wchar_t* out) {
    int length = lstrlenW(folder);
    while (length > 0 && folder[length - 1] == '\\') --length;
    if (length == 0 || length + 1 + lstrlenW(program) >= static_cast<int>(kSlicerPathUnits)) return false;
    lstrcpynW(out, folder, length + 1);
    lstrcatW(lstrcatW(out, L"\\"), program);
    return isFile(out);
}

// A version as its numbers ("5.10.0" is newer than "5.9.1"); none is 0.
struct Version {
    uint32_t parts[4];
};

// The first number in `text` with those joined to it by dots.
Version versionIn(const wchar_t* text, int length) {
    Version version{};
    int at = 0;
    while (at < length && !(text[at] >= '0' && text[at] <= '9')) ++at;
    for (int part = 0; part < 4 && at < length && text[at] >= '0' && text[at] <= '9'; ++part) {
        for (; at < length && text[at] >= '0' && text[at] <= '9'; ++at)
            if (version.parts[part] < 100000000) version.parts[part] = version.parts[part] * 10 + (text[at] - '0');
        if (at + 1 < length && text[at] == '.') ++at;
    }
    return version;
}

bool newer(const Version& a, const Version& b) {
    for (int part = 0; part < 4; ++part)
        if (a.parts[part] != b.parts[part]) return a.parts[part] > b.parts[part];
    return false;
}

// The version in the name of the folder that holds the program, else in `fallback` (may be null).
Version versionOf(const wchar_t* program, const wchar_t* fallback) {
    int end = lstrlenW(program);
    while (end > 0 && program[end - 1] != '\\') --end;
    int begin = end > 0 ? end - 1 : 0;
    while (begin > 0 && program[begin - 1] != '\\') --begin;
    Version version = versionIn(program + begin, end > begin ? end - 1 - begin : 0);
    if (fallback && !newer(version, Version{})) version = versionIn(fallback, lstrlenW(fallback));
    return version;
}

// The newest program of a kind found so far; of equal versions, the first found.
struct Newest {
    bool found;
    Version version;
    wchar_t* program;  // kSlicerPathUnits
};

void offer(Newest* newest, const wchar_t* program, const Version& version) {
    if (newest->found && !newer(version, newest->version)) return;
    newest->found = true;
    newest->version = version;
    lstrcpynW(newest->program, program, kSlicerPathUnits);
}

void fromAppPaths(const SlicerKind& kind, Newest* newest) {
    for (const wchar_t* program : kind.programs) {
        if (!program) continue;
        wchar_t subkey[128], path[kSlicerPathUnits];
        lstrcatW(lstrcpyW(subkey, kAppPaths), program);
        for (HKEY root : kRoots)
            for (REGSAM view : kViews) {
                HKEY key;
                if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) continue;
                if (readString(key, nullptr, path, kSlicerPathUnits) && isFile(path))
                    offer(newest, path, versionOf(path, nullptr));
                RegCloseKey(key);
            }
    }
}

bool beginsWithCaseless(const wchar_t* text, const wchar_t* start) {
    int length = lstrlenW(start);
    return lstrlenW(text) >= length && CompareStringOrdinal(text, length, start, length, TRUE) == CSTR_EQUAL;
}

// "…\prusa-slicer.exe,0" or ",-1": the path without its icon index.
void stripIconIndex(wchar_t* text) {
    int length = lstrlenW(text), at = length;
    while (at > 0 && text[at - 1] >= '0' && text[at - 1] <= '9') --at;
    if (at == length) return;
    if (at > 0 && text[at - 1] == '-') --at;
    if (at > 0 && text[at - 1] == ',') text[at - 1] = 0;
}

// An uninstall entry names the program through DisplayIcon or its InstallLocation;
// its DisplayName ("Ultimaker Cura 4.13.1") may give the version.
void fromUninstallEntry(HKEY entry, const SlicerKind& kind, Newest* newest) {
    wchar_t name[kSlicerPathUnits], text[kSlicerPathUnits], path[kSlicerPathUnits];
    if (!readString(entry, L"DisplayName", name, kSlicerPathUnits) || !beginsWithCaseless(name, kind.displayName))
        return;
    bool icon = readString(entry, L"DisplayIcon", text, kSlicerPathUnits);
    if (icon) stripIconIndex(text);
    bool folder = readString(entry, L"InstallLocation", path, kSlicerPathUnits);
    for (const wchar_t* program : kind.programs) {
        if (!program) continue;
        if (icon && endsWithProgram(text, program) && isFile(text)) offer(newest, text, versionOf(text, name));
        wchar_t found[kSlicerPathUnits];
        if (folder && programIn(path, program, found)) offer(newest, found, versionOf(found, name));
    }
}

void fromUninstallEntries(const SlicerKind& kind, Newest* newest) {
    for (HKEY root : kRoots)
        for (REGSAM view : kViews) {
            HKEY entries;
            if (RegOpenKeyExW(root, kUninstall, 0, KEY_READ | view, &entries) != ERROR_SUCCESS) continue;
            wchar_t name[256];
            for (DWORD index = 0;; ++index) {
                DWORD units = ARRAYSIZE(name);
                LONG result = RegEnumKeyExW(entries, index, name, &units, nullptr, nullptr, nullptr, nullptr);
                if (result == ERROR_NO_MORE_ITEMS) break;
                if (result != ERROR_SUCCESS) continue;
                HKEY entry;
                if (RegOpenKeyExW(entries, name, 0, KEY_QUERY_VALUE | view, &entry) != ERROR_SUCCESS) continue;
                fromUninstallEntry(entry, kind, newest);
                RegCloseKey(entry);
            }
            RegCloseKey(entries);
        }
}

// Each program of the kind in root\folder.
void offerFolder(const SlicerKind& kind, const wchar_t* root, const wchar_t* folder, Newest* newest) {
    wchar_t path[kSlicerPathUnits], found[kSlicerPathUnits];
    if (lstrlenW(root) + lstrlenW(folder) + 2 >= static_cast<int>(kSlicerPathUnits)) return;
    lstrcatW(lstrcatW(lstrcpyW(path, root), L"\\"), folder);
    for (const wchar_t* program : kind.programs)
        if (program && programIn(path, program, found)) offer(newest, found, versionOf(found, nullptr));
}

// The folder patterns below Program Files (both); a * matches any version.
void fromUsualFolders(const SlicerKind& kind, Newest* newest) {
    const int bases[] = {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86};
    for (int base : bases) {
        wchar_t root[MAX_PATH];
        if (SHGetFolderPathW(nullptr, base, nullptr, SHGFP_TYPE_CURRENT, root) != S_OK) continue;
        for (const wchar_t* folder : kind.folders) {
            if (!folder) continue;
            bool star = false;
            for (const wchar_t* c = folder; *c; ++c) star = star || *c == '*';
            if (!star) {
                offerFolder(kind, root, folder, newest);
                continue;
            }
            wchar_t pattern[kSlicerPathUnits];
            if (lstrlenW(root) + lstrlenW(folder) + 2 >= static_cast<int>(kSlicerPathUnits)) continue;
            lstrcatW(lstrcatW(lstrcpyW(pattern, root), L"\\"), folder);
            WIN32_FIND_DATAW data;
            HANDLE search = FindFirstFileW(pattern, &data);
            if (search == INVALID_HANDLE_VALUE) continue;
            do {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) offerFolder(kind, root, data.cFileName, newest);
            } while (FindNextFileW(search, &data));
            FindClose(search);
        }
    }
}

}  // namespace

int findSlicers(FoundSlicer* found) {
    int count = 0;
    for (const SlicerKind& kind : kKinds) {
        FoundSlicer* slot = &found[count];
        Newest newest{false, {}, slot->program};
        fromAppPaths(kind, &newest);
        fromUninstallEntries(kind, &newest);
        fromUsualFolders(kind, &newest);
        if (newest.found) {
            slot->name = kind.name;
            ++count;
        }
    }
    return count;
}
