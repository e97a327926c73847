// The recent-files list: its order and cap, and what it accepts from the registry.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/recent_files.h"
#include "core/memory.h"

namespace {

std::vector<std::wstring> pathsOf(const RecentFiles& list) {
    return std::vector<std::wstring>(list.paths, list.paths + list.count);
}

std::wstring model(int number) {
    return L"C:\\models\\part" + std::to_wstring(number) + L".stl";
}

TEST(RecentFiles, KeepTheLastEightOpenedMostRecentFirstEachOnce) {
    const struct {
        std::vector<std::wstring> opened;
        std::vector<std::wstring> listed;
    } cases[] = {
        {{}, {}},
        {{L"C:\\a.stl", L"C:\\b.stl", L"C:\\c.stl"}, {L"C:\\c.stl", L"C:\\b.stl", L"C:\\a.stl"}},
        {{L"C:\\a.stl", L"C:\\b.stl", L"C:\\a.stl"}, {L"C:\\a.stl", L"C:\\b.stl"}},
        // The file system ignores letter case, so the list does too, and shows the latest spelling.
        {{L"C:\\Models\\a.stl", L"C:\\b.stl", L"c:\\models\\A.STL"}, {L"c:\\models\\A.STL", L"C:\\b.stl"}},
        {{L"C:\\a.stl", L"C:\\a.stl"}, {L"C:\\a.stl"}},
        {{model(1), model(2), model(3), model(4), model(5), model(6), model(7), model(8), model(9), model(10)},
         {model(10), model(9), model(8), model(7), model(6), model(5), model(4), model(3)}},
        // A full list keeps its eighth when the file opened again is already in it.
        {{model(1), model(2), model(3), model(4), model(5), model(6), model(7), model(8), model(3)},
         {model(3), model(8), model(7), model(6), model(5), model(4), model(2), model(1)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.opened.size());
        RecentFiles list;
        initRecentFiles(&list);
        for (const std::wstring& path : c.opened) ASSERT_TRUE(addRecentFile(&list, path.c_str(), nullptr));
        EXPECT_EQ(pathsOf(list), c.listed);
        clearRecentFiles(&list);
    }
}

TEST(RecentFiles, RemovingAnEntryClosesTheGap) {
    const struct {
        int index;
        std::vector<std::wstring> left;
    } cases[] = {
        {0, {model(2), model(1)}}, {1, {model(3), model(1)}}, {2, {model(3), model(2)}},
        {3, {model(3), model(2), model(1)}}, {-1, {model(3), model(2), model(1)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        RecentFiles list;
        initRecentFiles(&list);
        for (int k = 1; k <= 3; ++k) addRecentFile(&list, model(k).c_str(), nullptr);
        removeRecentFile(&list, c.index);
        EXPECT_EQ(pathsOf(list), c.left);
        clearRecentFiles(&list);
    }
}

// The stored form is a multi-string: paths, each terminated, then an empty one.
std::wstring stored(const std::vector<std::wstring>& paths) {
    std::wstring form;
    for (const std::wstring& path : paths) form += path + L'\0';
    return form + L'\0';
}

TEST(RecentFiles, TakeOnlyASoundStoredFormAndWriteItBack) {
    std::vector<std::wstring> nine;
    for (int k = 1; k <= 9; ++k) nine.push_back(model(k));
    const std::wstring longest = L"C:\\" + std::wstring(kMaxRecentPathUnits - 3, L'x');
    const struct {
        const char* what;
        std::wstring form;
        bool sound;
        std::vector<std::wstring> listed;
    } cases[] = {
        {"nothing", L"", true, {}},
        {"empty list", stored({}), true, {}},
        {"two", stored({L"C:\\b.stl", L"D:\\a.stl"}), true, {L"C:\\b.stl", L"D:\\a.stl"}},
        {"network path", stored({L"\\\\server\\share\\a.stl"}), true, {L"\\\\server\\share\\a.stl"}},
        {"the same twice", stored({L"C:\\a.stl", L"c:\\A.stl"}), true, {L"C:\\a.stl"}},
        {"longest path", stored({longest}), true, {longest}},
        {"path too long", stored({longest + L'x'}), false, {}},
        {"no closing empty path", std::wstring(L"C:\\a.stl\0", 9), false, {}},
        {"no terminator", L"C:\\a.stl", false, {}},
        {"more after the end", stored({L"C:\\a.stl"}) + L"C:\\b.stl", false, {}},
        {"relative path", stored({L"C:\\a.stl", L"a.stl"}), false, {}},
        {"drive without separator", stored({L"C:a.stl"}), false, {}},
        {"not a drive letter", stored({L"1:\\a.stl"}), false, {}},
        {"nine paths", stored(nine), false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecentFiles list;
        initRecentFiles(&list);
        addRecentFile(&list, L"C:\\before.stl", nullptr);  // whatever was there goes
        EXPECT_EQ(parseRecentFiles(&list, c.form.data(), c.form.size(), nullptr), c.sound);
        EXPECT_EQ(pathsOf(list), c.listed);
        size_t units = 0;
        wchar_t* written = storeRecentFiles(&list, &units, nullptr);
        ASSERT_NE(written, nullptr);
        EXPECT_EQ(std::wstring(written, units), stored(c.listed));
        freeBytes(written);
        clearRecentFiles(&list);
    }
}

// Written by anyone: a value of another type or size is not taken.
TEST(RecentFiles, ReadOnlyASoundMultiStringOfTheApplicationKey) {
    HKEY keys[2] = {};
    const wchar_t* path = L"Software\\Veldmark tests\\recent";
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &keys[0], nullptr),
              ERROR_SUCCESS);
    const std::wstring sound = stored({L"C:\\a.stl", L"C:\\b.stl"});
    const std::wstring deep = stored({L"C:\\" + std::wstring(300, L'd') + L"\\a.stl", L"C:\\b.stl"});
    const std::wstring oversized(kMaxRecentStoredUnits + 1, L'\0');
    const struct {
        const char* what;
        DWORD type;
        std::wstring data;
        size_t bytes;
        size_t listed;
    } cases[] = {
        {"sound", REG_MULTI_SZ, sound, sound.size() * 2, 2},
        {"a path past 260 units", REG_MULTI_SZ, deep, deep.size() * 2, 2},
        {"a single string", REG_SZ, sound, sound.size() * 2, 0},
        {"binary", REG_BINARY, sound, sound.size() * 2, 0},
        {"odd byte count", REG_MULTI_SZ, sound + L'\0', sound.size() * 2 + 1, 0},
        {"oversized", REG_MULTI_SZ, oversized, oversized.size() * 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(RegSetValueExW(keys[0], L"RecentFiles", 0, c.type, reinterpret_cast<const BYTE*>(c.data.data()),
                                 static_cast<DWORD>(c.bytes)),
                  ERROR_SUCCESS);
        RecentFiles list;
        EXPECT_EQ(readRecentFiles(keys, &list, nullptr), c.listed != 0);
        EXPECT_EQ(static_cast<size_t>(list.count), c.listed);
        clearRecentFiles(&list);
    }
    RegCloseKey(keys[0]);
    RegDeleteTreeW(HKEY_CURRENT_USER, path);
}

}  // namespace
