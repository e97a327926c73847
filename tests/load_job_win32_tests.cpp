#include <gtest/gtest.h>
#include <windows.h>

#include "core/spin_lock.h"
#include "load/load_job.h"
#include "tests/test_files.h"
#include "view/gpu_device.h"
#include "view/view_lookup.h"

namespace {

LoadJob* posted = nullptr;

LRESULT CALLBACK keepPostedJob(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) posted = reinterpret_cast<LoadJob*>(wParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

// Held view lifetimes keep the job at its upload, so a stop always comes
// before the job decides its state.
TEST(LoadJobOnThreadPool, PostsTheJobWithTheStateItEndedIn) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = keepPostedJob;
    windowClass.lpszClassName = L"LoadJobTestWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"LoadJobTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    TempFolder folder;
    folder.write("a.stl", binaryStl({unitTriangle(), unitTriangle(2)}));
    std::vector<Utf16> path = utf16Path(folder.directory() + "a.stl");
    auto list = std::make_unique<FileNameList>();
    ASSERT_TRUE(makeFileNameList(path.data(), list.get()));
    for (bool stop : {false, true}) {
        SCOPED_TRACE(stop);
        posted = nullptr;
        lockViewLifetimes();
        LoadJob* job = startLoadJob(list.get(), window, nullptr, nullptr);
        if (stop && job) exchange8(&job->keepGoing, 0);
        unlockViewLifetimes();
        ASSERT_NE(job, nullptr);
        ASSERT_TRUE(pumpUntil([&] { return posted != nullptr; }));
        EXPECT_EQ(posted, job);
        EXPECT_EQ(job->state, stop ? kLoadStopped : kLoadFinished);
        if (!stop) {
            ASSERT_EQ(job->parts.used, sizeof(ModelPart));
            EXPECT_EQ(static_cast<ModelPart*>(job->parts.data)->mesh.solids[0].triangleCount, 2u);
        }
        destroyLoadJob(job);
    }
    DestroyWindow(window);
}

// A job whose window is gone keeps itself for the dialog's timer, lock free.
TEST(LoadJobOnThreadPool, AJobThatCannotPostWaitsWithItsLockFree) {
    HWND gone = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    DestroyWindow(gone);
    auto job = std::make_unique<LoadJob>();
    job->keepGoing = 1;
    job->dialogWindow = gone;
    deliverLoadJob(job.get());
    EXPECT_EQ(+job->messageLock, 0);
    EXPECT_EQ(job->state, kLoadUndelivered);
}

}  // namespace
