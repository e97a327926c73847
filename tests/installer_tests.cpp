// Installs the built package as a user would, with msiexec: the files, the
// Start menu shortcut, "Open with", the thumbnail and preview keys for .stl
// and .3mf (another program's handlers kept and given back); the installed viewer
// draws a picture; an older package is upgraded to one installation, a
// downgrade is refused; the uninstall leaves nothing but the user's settings.
#include <gtest/gtest.h>
#include <windows.h>
#include <msi.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

const wchar_t kUpgradeCode[] = L"{83E4A856-5398-4FDF-976E-88CC54954717}";
const wchar_t kSettingsKey[] = L"Software\\Veldmark\\STL Viewer";

std::string projectVersion() {
    std::stringstream text;
    text << std::ifstream(STLV_SOURCE_DIR "/CMakeLists.txt").rdbuf();
    std::string source = text.str();
    std::smatch match;
    if (!std::regex_search(source, match, std::regex(R"(\nproject\(\w+ VERSION ([0-9]+\.[0-9]+\.[0-9]+))"))) return "";
    return match[1];
}

// The exit code of a command line, or -1 when it could not start or did not end.
long run(std::wstring commandLine, DWORD milliseconds = 180000) {
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<long>(code);
}

long msiexec(const wchar_t* action, const std::wstring& package) {
    return run(L"msiexec " + std::wstring(action) + L" \"" + package + L"\" /qn");
}

// Product codes of every installed version of the viewer.
std::vector<std::wstring> installations() {
    std::vector<std::wstring> found;
    wchar_t product[39];
    for (DWORD k = 0; MsiEnumRelatedProductsW(kUpgradeCode, 0, k, product) == ERROR_SUCCESS; ++k) found.push_back(product);
    return found;
}

std::wstring productVersion(const std::wstring& product) {
    wchar_t text[64];
    DWORD length = 64;
    if (MsiGetProductInfoW(product.c_str(), L"VersionString", text, &length) != ERROR_SUCCESS) return L"";
    return text;
}

// The folder a shortcut starts its program in; empty if it cannot be read.
std::wstring shortcutWorkingFolder(const std::wstring& path) {
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    wchar_t folder[MAX_PATH] = L"";
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        SUCCEEDED(file->Load(path.c_str(), STGM_READ)))
        link->GetWorkingDirectory(folder, MAX_PATH);
    if (file) file->Release();
    if (link) link->Release();
    return folder;
}

std::wstring knownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) result = path;
    CoTaskMemFree(path);
    return result;
}

bool keyExists(const std::wstring& path) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The string value, or "<none>".
std::wstring stringValue(const std::wstring& key, const std::wstring& name) {
    wchar_t text[1024];
    DWORD bytes = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ, nullptr,
                     text, &bytes) != ERROR_SUCCESS)
        return L"<none>";
    return text;
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

class InstallerTest : public ::testing::Test {
protected:
    // A run that failed half-way leaves nothing for the next.
    void SetUp() override {
        for (const std::wstring& product : installations()) msiexec(L"/x", product);
    }
    void TearDown() override {
        SetUp();
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"InstallerTestMark");
        for (const wchar_t* key : {L"Software\\Classes\\.stl", L"Software\\Classes\\.3mf"})
            RegDeleteTreeW(HKEY_CURRENT_USER, key);
    }
};

TEST_F(InstallerTest, InstallsPerUserUpgradesRefusesADowngradeAndUninstallsCleanly) {
    const std::wstring version = wide(projectVersion());
    ASSERT_FALSE(version.empty());
    const std::wstring package = STLV_PACKAGE_DIR L"\\stlview-" + version + L"-x64.msi";
    ASSERT_TRUE(std::filesystem::exists(package));
    DWORD mark = 7;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"InstallerTestMark", REG_DWORD, &mark, sizeof mark),
              ERROR_SUCCESS);

    // The package's own folders go with it, down to %LOCALAPPDATA%\Programs where it made that too.
    const std::wstring programs = knownFolder(FOLDERID_LocalAppData) + L"\\Programs";
    const bool programsWasThere = std::filesystem::exists(programs);
    // Windows Installer removes any empty folder the package lists, one it found as well as one it made;
    // a Programs folder that was there holds other programs, and that one must stay.
    const std::wstring otherProgram = programs + L"\\Other Program";
    if (programsWasThere) std::filesystem::create_directories(otherProgram);
    // Another program's thumbnails of .stl files and previews of .3mf files, to be given back.
    const wchar_t otherThumbnails[] = L"{11111111-2222-3333-4444-555555555555}",
                  otherPreviews[] = L"{88888888-2222-3333-4444-555555555555}";
    const wchar_t stlThumbnails[] = L"Software\\Classes\\.stl\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}",
                  threeMfPreviews[] = L"Software\\Classes\\.3mf\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}";
    RegSetKeyValueW(HKEY_CURRENT_USER, stlThumbnails, nullptr, REG_SZ, otherThumbnails, sizeof otherThumbnails);
    RegSetKeyValueW(HKEY_CURRENT_USER, threeMfPreviews, nullptr, REG_SZ, otherPreviews, sizeof otherPreviews);
    ASSERT_EQ(msiexec(L"/i", STLV_OLDER_PACKAGE), 0);
    ASSERT_EQ(installations().size(), 1u);
    EXPECT_EQ(productVersion(installations()[0]), L"0.0.1");
    ASSERT_EQ(msiexec(L"/i", package), 0);
    ASSERT_EQ(installations().size(), 1u);
    EXPECT_EQ(productVersion(installations()[0]), version);

    const std::wstring folder = knownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Veldmark STL Viewer\\";
    const std::wstring shortcut = knownFolder(FOLDERID_Programs) + L"\\Veldmark STL Viewer.lnk";
    const std::wstring viewer = L"\"" + folder + L"stlview.exe\"";
    const std::vector<std::wstring> files = {folder + L"stlview.exe", folder + L"stlview.com", folder + L"stlthumb.dll",
                                             folder + L"stlinfo.exe", folder + L"README.txt", shortcut};
    for (const std::wstring& file : files) EXPECT_TRUE(std::filesystem::exists(file)) << file.c_str();
    // File > Open from the Start menu begins in Documents, not the install folder.
    std::wstring documents = knownFolder(FOLDERID_Documents), workingFolder = shortcutWorkingFolder(shortcut);
    if (!workingFolder.empty() && workingFolder.back() == L'\\') workingFolder.pop_back();
    EXPECT_EQ(workingFolder, documents);
    const struct {
        std::wstring key, name, value;
    } values[] = {
        {L"Software\\Classes\\.stl\\OpenWithProgids", L"Veldmark.StlViewer.stl", L""},
        {L"Software\\Classes\\Veldmark.StlViewer.stl", L"", L"STL model"},
        {L"Software\\Classes\\Veldmark.StlViewer.stl\\DefaultIcon", L"", viewer + L",0"},
        {L"Software\\Classes\\Veldmark.StlViewer.stl\\shell\\open\\command", L"", viewer + L" \"%1\""},
        {L"Software\\Classes\\Applications\\stlview.exe\\shell\\open\\command", L"", viewer + L" \"%1\""},
        {L"Software\\Classes\\.3mf\\OpenWithProgids", L"Veldmark.StlViewer.3mf", L""},
        {L"Software\\Classes\\Veldmark.StlViewer.3mf", L"", L"3MF model"},
        {L"Software\\Classes\\Veldmark.StlViewer.3mf\\DefaultIcon", L"", viewer + L",0"},
        {L"Software\\Classes\\Veldmark.StlViewer.3mf\\shell\\open\\command", L"", viewer + L" \"%1\""},
        {L"Software\\Classes\\Applications\\stlview.exe\\SupportedTypes", L".stl", L""},
        {L"Software\\Classes\\Applications\\stlview.exe\\SupportedTypes", L".3mf", L""},
        {L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}\\InprocServer32", L"",
         folder + L"stlthumb.dll"},
        {L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}\\InprocServer32", L"ThreadingModel",
         L"Apartment"},
        {L"Software\\Classes\\.stl\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"",
         L"{c9754f59-910f-4c7d-89d7-15722d1a29bb}"},
        {L"Software\\Classes\\.3mf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}", L"",
         L"{c9754f59-910f-4c7d-89d7-15722d1a29bb}"},
        {L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}", L"AppID",
         L"{6d2b5079-2f0b-48dd-ab7f-97cec514d30b}"},
        {L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}\\InprocServer32", L"",
         folder + L"stlthumb.dll"},
        {L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}\\InprocServer32", L"ThreadingModel",
         L"Apartment"},
        {L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers", L"{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}",
         L"Veldmark STL Viewer preview"},
        {L"Software\\Classes\\.stl\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}", L"",
         L"{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}"},
        {threeMfPreviews, L"", L"{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}"},
    };
    for (const auto& v : values) EXPECT_EQ(stringValue(v.key, v.name), v.value) << v.key.c_str();
    // The default stays the user's: nothing claims the extensions themselves.
    EXPECT_EQ(stringValue(L"Software\\Classes\\.stl", L""), L"<none>");
    EXPECT_EQ(stringValue(L"Software\\Classes\\.3mf", L""), L"<none>");

    const std::wstring picture = wide((std::filesystem::temp_directory_path() / "stlv-installed.png").string());
    DeleteFileW(picture.c_str());
    EXPECT_EQ(run(viewer + L" --picture \"" + picture + L"\" --size 64x48 \"" STLV_SAMPLES_DIR L"\\desk_lamp.stl\""),
              0);
    EXPECT_TRUE(std::filesystem::exists(picture));
    DeleteFileW(picture.c_str());

    EXPECT_NE(msiexec(L"/i", STLV_OLDER_PACKAGE), 0);
    ASSERT_EQ(installations().size(), 1u);
    EXPECT_EQ(productVersion(installations()[0]), version);

    ASSERT_EQ(msiexec(L"/x", package), 0);
    EXPECT_TRUE(installations().empty());
    for (const std::wstring& file : files) EXPECT_FALSE(std::filesystem::exists(file)) << file.c_str();
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_EQ(std::filesystem::exists(programs), programsWasThere);
    if (programsWasThere) std::filesystem::remove(otherProgram);
    // The other program's entries are back; nothing else of ours stays under the extensions.
    EXPECT_EQ(stringValue(stlThumbnails, L""), otherThumbnails);
    EXPECT_EQ(stringValue(threeMfPreviews, L""), otherPreviews);
    for (const wchar_t* key : {L"Software\\Classes\\.stl\\OpenWithProgids",
                               L"Software\\Classes\\.stl\\ShellEx\\{8895b1c6-b41f-4c1c-a562-0d564250836f}",
                               L"Software\\Classes\\.3mf\\OpenWithProgids",
                               L"Software\\Classes\\.3mf\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}",
                               L"Software\\Classes\\Veldmark.StlViewer.stl", L"Software\\Classes\\Veldmark.StlViewer.3mf",
                               L"Software\\Classes\\Applications\\stlview.exe",
                               L"Software\\Classes\\CLSID\\{c9754f59-910f-4c7d-89d7-15722d1a29bb}",
                               L"Software\\Classes\\CLSID\\{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}"})
        EXPECT_FALSE(keyExists(key)) << key;
    EXPECT_EQ(stringValue(L"Software\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
                          L"{4d1e7a3b-8c52-4f06-9e1d-2b7c5a9f3e61}"),
              L"<none>");
    DWORD kept = 0, bytes = sizeof kept;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, L"InstallerTestMark", RRF_RT_REG_DWORD, nullptr, &kept,
                           &bytes),
              ERROR_SUCCESS);
    EXPECT_EQ(kept, mark);
}

}  // namespace
