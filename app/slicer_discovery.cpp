#include "app/slicer_discovery.h"

#include <shlobj.h>

namespace {

struct SlicerKind {
    const wchar_t* name;
    const wchar_t* program;      // the program's file name
    const wchar_t* displayName;  // how its uninstall entry's DisplayName begins (any case)
    // Where its installer puts it below Program Files; a * stands for a version ("UltiMaker Cura 5.7.1").
    const wchar_t* folders[2];
};

const SlicerKind kKinds[kSlicerKinds] = {
    {L"PrusaSlicer", L"prusa-slicer.exe", L"PrusaSlicer", {L"Prusa3D\\PrusaSlicer", L"PrusaSlicer"}},
    {L"Bambu Studio", L"bambu-studio.exe", L"Bambu Studio", {L"Bambu Studio", L"BambuStudio"}},
    {L"OrcaSlicer", L"orca-slicer.exe", L"OrcaSlicer", {L"OrcaSlicer", L"Orca Slicer"}},
    {L"Cura", L"UltiMaker-Cura.exe", L"UltiMaker Cura", {L"UltiMaker Cura *", nullptr}},
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

bool fromAppPaths(const SlicerKind& kind, wchar_t* out) {
    wchar_t subkey[128];
    lstrcatW(lstrcpyW(subkey, kAppPaths), kind.program);
    for (HKEY root : kRoots)
        for (REGSAM view : kViews) {
            HKEY key;
            if (RegOpenKeyExW(root, subkey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) continue;
            bool found = readString(key, nullptr, out, kSlicerPathUnits) && isFile(out);
            RegCloseKey(key);
            if (found) return true;
        }
    return false;
}

bool beginsWithCaseless(const wchar_t* text, const wchar_t* start) {
    int length = lstrlenW(start);
    return lstrlenW(text) >= length && CompareStringOrdinal(text, length, start, length, TRUE) == CSTR_EQUAL;
}

// An uninstall entry names the program through DisplayIcon ("…\prusa-slicer.exe,0") or its InstallLocation.
bool fromUninstallEntry(HKEY entry, const SlicerKind& kind, wchar_t* out) {
    wchar_t text[kSlicerPathUnits];
    if (!readString(entry, L"DisplayName", text, kSlicerPathUnits) || !beginsWithCaseless(text, kind.displayName))
        return false;
    if (readString(entry, L"DisplayIcon", text, kSlicerPathUnits)) {
        int length = lstrlenW(text);
        for (int i = length - 1; i > 0 && text[i] >= '0' && text[i] <= '9'; --i)
            if (text[i - 1] == ',') text[i - 1] = 0;
        if (endsWithProgram(text, kind.program) && isFile(text)) return lstrcpyW(out, text) != nullptr;
    }
    return readString(entry, L"InstallLocation", text, kSlicerPathUnits) && programIn(text, kind.program, out);
}

bool fromUninstallEntries(const SlicerKind& kind, wchar_t* out) {
    for (HKEY root : kRoots)
        for (REGSAM view : kViews) {
            HKEY entries;
            if (RegOpenKeyExW(root, kUninstall, 0, KEY_READ | view, &entries) != ERROR_SUCCESS) continue;
            bool found = false;
            wchar_t name[256];
            for (DWORD index = 0; !found; ++index) {
                DWORD units = ARRAYSIZE(name);
                LONG result = RegEnumKeyExW(entries, index, name, &units, nullptr, nullptr, nullptr, nullptr);
                if (result == ERROR_NO_MORE_ITEMS) break;
                if (result != ERROR_SUCCESS) continue;
                HKEY entry;
                if (RegOpenKeyExW(entries, name, 0, KEY_QUERY_VALUE | view, &entry) != ERROR_SUCCESS) continue;
                found = fromUninstallEntry(entry, kind, out);
                RegCloseKey(entry);
            }
            RegCloseKey(entries);
            if (found) return true;
        }
    return false;
}

// The folder pattern below Program Files (both), the newest match of a * first as the names sort.
bool fromUsualFolder(const SlicerKind& kind, wchar_t* out) {
    const int bases[] = {CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86};
    for (int base : bases) {
        wchar_t root[MAX_PATH];
        if (SHGetFolderPathW(nullptr, base, nullptr, SHGFP_TYPE_CURRENT, root) != S_OK) continue;
        for (const wchar_t* folder : kind.folders) {
            if (!folder) continue;
            wchar_t pattern[kSlicerPathUnits];
            if (lstrlenW(root) + lstrlenW(folder) + 2 >= static_cast<int>(kSlicerPathUnits)) continue;
            lstrcatW(lstrcatW(lstrcpyW(pattern, root), L"\\"), folder);
            const wchar_t* star = nullptr;
            for (const wchar_t* c = pattern; *c; ++c)
                if (*c == '*') star = c;
            if (!star) {
                if (programIn(pattern, kind.program, out)) return true;
                continue;
            }
            WIN32_FIND_DATAW data;
            HANDLE search = FindFirstFileW(pattern, &data);
            if (search == INVALID_HANDLE_VALUE) continue;
            wchar_t best[MAX_PATH] = L"";
            do {
                if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && lstrcmpiW(data.cFileName, best) > 0) {
                    wchar_t candidate[kSlicerPathUnits];
                    lstrcatW(lstrcatW(lstrcpyW(candidate, root), L"\\"), data.cFileName);
                    if (programIn(candidate, kind.program, out)) lstrcpyW(best, data.cFileName);
                }
            } while (FindNextFileW(search, &data));
            FindClose(search);
            if (*best) {
                wchar_t candidate[kSlicerPathUnits];
                lstrcatW(lstrcatW(lstrcpyW(candidate, root), L"\\"), best);
                return programIn(candidate, kind.program, out);
            }
        }
    }
    return false;
}

}  // namespace

int findSlicers(FoundSlicer* found) {
    int count = 0;
    for (const SlicerKind& kind : kKinds) {
        FoundSlicer* slot = &found[count];
        if (fromAppPaths(kind, slot->program) || fromUninstallEntries(kind, slot->program) ||
            fromUsualFolder(kind, slot->program)) {
            slot->name = kind.name;
            ++count;
        }
    }
    return count;
}
