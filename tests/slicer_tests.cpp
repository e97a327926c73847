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

// Several installs of one slicer at once: the newest is taken, by the
// version's numbers; Cura 4 under its own program name counts too.
TEST(SlicerDiscovery, TakesTheNewestOfSeveralInstalls) {
    const std::wstring folder = scratchFolder();
    const std::wstring usual = programFiles() + L"\\";
    const std::wstring cura4 = folder + L"Ultimaker Cura 4.13.1\\Cura.exe";
    const std::wstring cura59 = folder + L"UltiMaker Cura 5.9.1\\UltiMaker-Cura.exe";
    const std::wstring cura510 = folder + L"UltiMaker Cura 5.10.0\\UltiMaker-Cura.exe";
    const std::wstring prusa = folder + L"Prusa Slicer 2.8\\prusa-slicer.exe";
    struct Install {
        HKEY root;  // null: a program in a usual folder only
        REGSAM view;
        std::wstring key;
        std::vector<std::pair<const wchar_t*, std::wstring>> values;
        std::wstring program;
    };
    // An uninstall entry naming the program's folder.
    auto entry = [&](const wchar_t* displayName, const std::wstring& program) {
        return Install{HKEY_CURRENT_USER, KEY_WOW64_64KEY, kUninstall + displayName,
                       {{L"DisplayName", displayName},
                        {L"InstallLocation", std::filesystem::path(program).parent_path().wstring()}},
                       program};
    };
    const struct {
        const char* what;
        std::vector<Install> installs;
        const wchar_t* expectedName;
        std::wstring expectedProgram;
    } rows[] = {
        {"Cura 4's uninstall entry", {entry(L"Ultimaker Cura 4.13.1", cura4)}, L"Cura", cura4},
        {"Cura 4 under App Paths", {{HKEY_CURRENT_USER, KEY_WOW64_64KEY, kAppPaths + L"Cura.exe", {{nullptr, cura4}}, cura4}},
         L"Cura", cura4},
        {"Cura 4 in its usual folder", {{nullptr, 0, L"", {}, usual + L"Ultimaker Cura 4.13.1\\Cura.exe"}}, L"Cura",
         usual + L"Ultimaker Cura 4.13.1\\Cura.exe"},
        {"usual folders of 5.9.1 and 5.10.0",
         {{nullptr, 0, L"", {}, usual + L"UltiMaker Cura 5.9.1\\UltiMaker-Cura.exe"},
          {nullptr, 0, L"", {}, usual + L"UltiMaker Cura 5.10.0\\UltiMaker-Cura.exe"}},
         L"Cura", usual + L"UltiMaker Cura 5.10.0\\UltiMaker-Cura.exe"},
        {"the user's uninstall entry of 5.9.1, the machine's of 5.10.0",
         {{HKEY_CURRENT_USER, KEY_WOW64_64KEY, kUninstall + L"{Cura-591}",
           {{L"DisplayName", L"UltiMaker Cura 5.9.1"}, {L"DisplayIcon", cura59 + L",0"}}, cura59},
          {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kUninstall + L"{Cura-510}",
           {{L"DisplayName", L"UltiMaker Cura 5.10.0"}, {L"DisplayIcon", cura510 + L",0"}}, cura510}},
         L"Cura", cura510},
        {"App Paths naming 5.9.1, the usual folder holding 5.10.0",
         {{HKEY_CURRENT_USER, KEY_WOW64_64KEY, kAppPaths + L"UltiMaker-Cura.exe", {{nullptr, cura59}}, cura59},
          {nullptr, 0, L"", {}, usual + L"UltiMaker Cura 5.10.0\\UltiMaker-Cura.exe"}},
         L"Cura", usual + L"UltiMaker Cura 5.10.0\\UltiMaker-Cura.exe"},
        {"Cura 4 under App Paths, Cura 5 in its usual folder",
         {{HKEY_CURRENT_USER, KEY_WOW64_64KEY, kAppPaths + L"Cura.exe", {{nullptr, cura4}}, cura4},
          {nullptr, 0, L"", {}, usual + L"UltiMaker Cura 5.9.1\\UltiMaker-Cura.exe"}},
         L"Cura", usual + L"UltiMaker Cura 5.9.1\\UltiMaker-Cura.exe"},
        // The version in the entry's name where its folder has none.
        {"Cura 5.9.1's entry naming a folder without the version, beside Cura 4",
         {entry(L"UltiMaker Cura 5.9.1", folder + L"Cura\\UltiMaker-Cura.exe"),
          {HKEY_CURRENT_USER, KEY_WOW64_64KEY, kAppPaths + L"Cura.exe", {{nullptr, cura4}}, cura4}},
         L"Cura", folder + L"Cura\\UltiMaker-Cura.exe"},
        {"an icon with a negative index",
         {{HKEY_CURRENT_USER, KEY_WOW64_32KEY, kUninstall + L"PrusaSlicer",
           {{L"DisplayName", L"PrusaSlicer 2.8.1"}, {L"DisplayIcon", prusa + L",-1"}}, prusa}},
         L"PrusaSlicer", prusa},
    };
    FoundSlicer found[kSlicerKinds];
    ASSERT_EQ(findSlicers(found), 0) << "the prefix has a slicer of its own";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        for (const Install& install : row.installs) {
            makeFile(install.program);
            for (const auto& [name, value] : install.values) setValue(install.root, install.view, install.key, name, value);
        }
        int count = findSlicers(found);
        EXPECT_EQ(count, 1);
        if (count > 0) {
            EXPECT_STREQ(found[0].name, row.expectedName);
            EXPECT_EQ(std::filesystem::path(found[0].program), std::filesystem::path(row.expectedProgram));
        }
        for (const Install& install : row.installs) {
            if (install.root) RegDeleteKeyExW(install.root, install.key.c_str(), install.view, 0);
            if (install.program.rfind(usual, 0) == 0)
                std::filesystem::remove_all(std::filesystem::path(install.program).parent_path());
        }
        std::filesystem::remove_all(folder);
    }
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
