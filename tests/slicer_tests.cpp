// Open in slicer: the slicers found through the registry (entries made in the
// test's Wine prefix, in both views) and their usual folders, and command
// lines that CommandLineToArgvW reads back as the paths they were made of.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <filesystem>

#include <string>
#include <vector>

#include "app/slicer_discovery.h"
#include "app/slicer_launch.h"

namespace {

const std::wstring kAppPaths = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
const std::wstring kUninstall = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::wstring scratchFolder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"stlv slicer tests\\";
}

// A file to stand for a program; its folders made.
void makeFile(const std::wstring& path) {
    for (size_t at = path.find('\\', 3); at != std::wstring::npos; at = path.find('\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(file);
}

void setValue(HKEY root, REGSAM view, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY opened;
    ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &opened, nullptr), 0);
    RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
}

struct Registration {
    const char* what;
    HKEY root;
    REGSAM view;
    std::wstring key;  // below Software\...\CurrentVersion; empty: a usual folder only
    std::vector<std::pair<const wchar_t*, std::wstring>> values;  // a path in a value is made as a file
    std::wstring program;  // the file made; empty: none
    const wchar_t* expectedName;  // null: nothing found
    std::wstring expectedProgram;
};

std::wstring programFiles() {
    wchar_t path[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

}  // namespace

TEST(SlicerDiscovery, FindsEachSlicerWhereItsInstallerLeavesItAndOnlyWhenItsProgramIsThere) {
    const std::wstring folder = scratchFolder();
    const std::wstring prusa = folder + L"Prusa Slicer 2.8\\prusa-slicer.exe";
    const std::wstring bambu = folder + L"Bambu Studio\\bambu-studio.exe";
    const std::wstring orca = folder + L"Orca Slicer\\orca-slicer.exe";
    const std::wstring cura = folder + L"UltiMaker Cura 5.7.1\\UltiMaker-Cura.exe";
    const std::wstring usualPrusa = programFiles() + L"\\Prusa3D\\PrusaSlicer\\prusa-slicer.exe";
    const std::wstring usualCura = programFiles() + L"\\UltiMaker Cura 5.8.0\\UltiMaker-Cura.exe";
    const std::vector<Registration> rows = {
        {"App Paths, the user's", HKEY_CURRENT_USER, KEY_WOW64_64KEY, kAppPaths + L"prusa-slicer.exe",
         {{nullptr, prusa}}, prusa, L"PrusaSlicer", prusa},
        {"App Paths, the machine's 32-bit view", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kAppPaths + L"bambu-studio.exe",
         {{nullptr, L"\"" + bambu + L"\""}}, bambu, L"Bambu Studio", bambu},
        {"App Paths naming a program that is gone", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kAppPaths + L"orca-slicer.exe",
         {{nullptr, orca}}, L"", nullptr, L""},
        {"uninstall entry's icon, the user's", HKEY_CURRENT_USER, KEY_WOW64_32KEY, kUninstall + L"{Orca-1}",
         {{L"DisplayName", L"OrcaSlicer 2.1.1"}, {L"DisplayIcon", L"\"" + orca + L"\",0"}}, orca, L"OrcaSlicer", orca},
        {"uninstall entry's folder, the machine's 64-bit view", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY,
         kUninstall + L"UltiMaker Cura 5.7.1",
         {{L"DisplayName", L"UltiMaker Cura 5.7.1"}, {L"InstallLocation", folder + L"UltiMaker Cura 5.7.1\\"}}, cura,
         L"Cura", cura},
        {"uninstall entry of another program", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kUninstall + L"Other",
         {{L"DisplayName", L"Slic3r"}, {L"InstallLocation", folder + L"Prusa Slicer 2.8"}}, prusa, nullptr, L""},
        {"the usual folder", nullptr, 0, L"", {}, usualPrusa, L"PrusaSlicer", usualPrusa},
        {"the usual folder of a version", nullptr, 0, L"", {}, usualCura, L"Cura", usualCura},
    };
    FoundSlicer found[kSlicerKinds];
    ASSERT_EQ(findSlicers(found), 0) << "the prefix has a slicer of its own";
    for (const Registration& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.program.empty()) makeFile(row.program);
        for (const auto& [name, value] : row.values) setValue(row.root, row.view, row.key, name, value);
        int count = findSlicers(found);
        if (row.expectedName) {
            ASSERT_EQ(count, 1);
            EXPECT_STREQ(found[0].name, row.expectedName);
            EXPECT_EQ(std::wstring(found[0].program), row.expectedProgram);
        }
        else EXPECT_EQ(count, 0);
        if (row.root) RegDeleteKeyExW(row.root, row.key.c_str(), row.view, 0);
        if (!row.program.empty()) DeleteFileW(row.program.c_str());
    }
    for (const wchar_t* made : {L"\\Prusa3D\\PrusaSlicer", L"\\Prusa3D", L"\\UltiMaker Cura 5.8.0"})
        RemoveDirectoryW((programFiles() + made).c_str());
    std::filesystem::remove_all(folder);
    EXPECT_EQ(findSlicers(found), 0);
}

TEST(SlicerCommandLine, ReadsBackAsThePathsItWasMadeOf) {
    const std::wstring deep = L"C:\\" + std::wstring(280, L'd') + L"\\model file.stl";
    const std::vector<std::vector<std::wstring>> rows = {
        {L"C:\\models\\cube.stl"},
        {L"C:\\My Models\\a cube (2).stl", L"D:\\second part.3mf"},
        {L"\\\\server\\share\\with space\\"},  // a trailing backslash before the closing quote
        {L"C:\\odd\\\\double\\\"quote\\\\\"", L""},
        {deep},
    };
    const wchar_t* program = L"C:\\Program Files\\Prusa3D\\PrusaSlicer\\prusa-slicer.exe";
    for (const std::vector<std::wstring>& files : rows) {
        SCOPED_TRACE(testing::PrintToString(files.size()) + " files, the first of " +
                     testing::PrintToString(files[0].size()) + " units");
        std::vector<const wchar_t*> pointers;
        for (const std::wstring& file : files) pointers.push_back(file.c_str());
        wchar_t line[32768];
        ASSERT_TRUE(slicerCommandLine(program, pointers.data(), static_cast<int>(files.size()), line, 32768));
        int count = 0;
        wchar_t** arguments = CommandLineToArgvW(line, &count);
        ASSERT_EQ(count, static_cast<int>(files.size()) + 1) << line;
        EXPECT_STREQ(arguments[0], program);
        for (size_t k = 0; k < files.size(); ++k) EXPECT_EQ(std::wstring(arguments[k + 1]), files[k]) << line;
        LocalFree(arguments);
        // One unit short of the whole line is refused, not cut.
        EXPECT_FALSE(slicerCommandLine(program, pointers.data(), static_cast<int>(files.size()), line,
                                       static_cast<uint32_t>(lstrlenW(line))));
    }
}
