// The window thread's apartment and the dark title bar's setting.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/dark_title_bar.h"
#include "app/window_apartment.h"

namespace {

struct Apartment {
    APTTYPE type = APTTYPE(-2);
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
};

Apartment apartmentHere() {
    Apartment here;
    if (FAILED(CoGetApartmentType(&here.type, &here.qualifier))) here.type = APTTYPE(-2);
    return here;
}

// On a fresh thread as on the program's: the window thread is single-threaded,
// a pool thread (where loads run) is still in the multithreaded apartment.
TEST(WindowThreadApartment, IsSingleThreadedWhilePoolThreadsStayMultithreaded) {
    Apartment window, pool;
    std::thread([&] {
        ASSERT_TRUE(enterWindowThreadApartment());
        window = apartmentHere();
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        struct Job {
            Apartment* result;
            HANDLE done;
        } job{&pool, done};
        ASSERT_TRUE(QueueUserWorkItem(
            [](void* context) -> DWORD {
                Job* job = static_cast<Job*>(context);
                *job->result = apartmentHere();
                SetEvent(job->done);
                return 0;
            },
            &job, 0));
        WaitForSingleObject(done, 10000);
        CloseHandle(done);
        OleUninitialize();
    }).join();
    EXPECT_TRUE(window.type == APTTYPE_STA || window.type == APTTYPE_MAINSTA) << window.type;
    EXPECT_EQ(pool.type, APTTYPE_MTA);
}

class AppsTheme : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
    void SetUp() override {
        DWORD value, size = sizeof value;
        if (RegGetValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", RRF_RT_REG_DWORD, nullptr, &value, &size) ==
            ERROR_SUCCESS)
            saved_ = value;
    }
    void TearDown() override {
        if (saved_) RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", REG_DWORD, &*saved_, sizeof *saved_);
        else RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme");
    }
    std::optional<DWORD> saved_;
};

TEST_F(AppsTheme, DarkOnlyWhenTheSettingSaysNoLightTheme) {
    struct Row {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
        bool dark;
    };
    const DWORD zero = 0, one = 1, two = 2;
    const Row rows[] = {
        {"no value: light", REG_NONE, nullptr, 0, false},
        {"0: dark", REG_DWORD, &zero, 4, true},
        {"1: light", REG_DWORD, &one, 4, false},
        {"any other number: light", REG_DWORD, &two, 4, false},
        {"text is not the setting", REG_SZ, L"0", 4, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme");
        if (row.data) ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", row.type, row.data, row.size), ERROR_SUCCESS);
        EXPECT_EQ(appsUseDarkTheme(), row.dark);
    }
    EXPECT_TRUE(isThemeChange(reinterpret_cast<LPARAM>(L"ImmersiveColorSet")));
    EXPECT_FALSE(isThemeChange(reinterpret_cast<LPARAM>(L"WindowsThemeElement")));
    EXPECT_FALSE(isThemeChange(0));
}

// Before Windows 10 20H1 the attribute is 19 and 20 is refused; Wine takes
// neither, so a stand-in answers as each system would.
TEST_F(AppsTheme, TheTitleBarFallsBackToAttribute19WhereTwentyIsRefused) {
    static std::vector<std::pair<DWORD, BOOL>> calls;
    static bool refuse20;
    auto fake = [](HWND, DWORD attribute, LPCVOID data, DWORD size) -> HRESULT {
        calls.emplace_back(attribute, size == sizeof(BOOL) ? *static_cast<const BOOL*>(data) : -1);
        return attribute == 20 && refuse20 ? E_INVALIDARG : S_OK;
    };
    const DWORD zero = 0;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", REG_DWORD, &zero, 4), ERROR_SUCCESS);
    for (bool refused : {false, true}) {
        calls.clear();
        refuse20 = refused;
        followAppsTheme(nullptr, fake);
        using Calls = std::vector<std::pair<DWORD, BOOL>>;
        EXPECT_EQ(calls, refused ? (Calls{{20, TRUE}, {19, TRUE}}) : (Calls{{20, TRUE}}));
    }
}

}  // namespace
