#include <gtest/gtest.h>
#include <windows.h>

#include "core/spin_lock.h"
#include "load/load_job.h"
#include "tests/test_files.h"

namespace {

// A message-only window that keeps the job of the first WM_APP it receives.
class CompletionWindow {
public:
    CompletionWindow() {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"LoadJobTestWindow";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"LoadJobTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~CompletionWindow() {
        DestroyWindow(window_);
    }
    HWND handle() const {
        return window_;
    }
    // Pumps messages until the job is posted back, or ten seconds pass.
    LoadJob* waitForCompletion() {
        DWORD start = GetTickCount();
        MSG message;
        while (!finished_ && GetTickCount() - start < 10000) {
            if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
            else Sleep(1);
        }
        return finished_;
    }

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<CompletionWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_APP && self && !self->finished_) {
            self->finished_ = reinterpret_cast<LoadJob*>(wParam);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    HWND window_;
    LoadJob* finished_ = nullptr;
};

std::unique_ptr<FileNameList> listOf(const std::string& path) {
    auto list = std::make_unique<FileNameList>();
    std::vector<Utf16> units = utf16Path(path);
    EXPECT_TRUE(makeFileNameList(units.data(), list.get()));
    return list;
}

TEST(LoadJobOnThreadPool, PostsTheFinishedJobToTheDialog) {
    TempFolder folder;
    folder.write("a.stl", binaryStl({unitTriangle(), unitTriangle(2)}));
    CompletionWindow window;
    auto list = listOf(folder.directory() + "a.stl");
    LoadJob* job = startLoadJob(list.get(), window.handle(), nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(window.waitForCompletion(), job);
    EXPECT_EQ(job->state, kLoadFinished);
    ASSERT_EQ(job->parts.used, sizeof(ModelPart));
    EXPECT_EQ(static_cast<ModelPart*>(job->parts.data)->mesh.solids[0].triangleCount, 2u);
    destroyLoadJob(job);
}

// The stop may come after the load ended; either way the job is posted, and
// its state matches what it holds.
TEST(LoadJobOnThreadPool, StoppedJobStillPosts) {
    TempFolder folder;
    std::vector<TestTriangle> many(200000, unitTriangle());
    folder.write("big.stl", binaryStl(many));
    CompletionWindow window;
    auto list = listOf(folder.directory() + "big.stl");
    LoadJob* job = startLoadJob(list.get(), window.handle(), nullptr, nullptr);
    ASSERT_NE(job, nullptr);
    exchange8(&job->keepGoing, 0);
    ASSERT_EQ(window.waitForCompletion(), job);
    if (job->state == kLoadFinished) {
        ASSERT_EQ(job->parts.used, sizeof(ModelPart));
        EXPECT_EQ(static_cast<ModelPart*>(job->parts.data)->mesh.solids[0].triangleCount, many.size());
    } else {
        EXPECT_EQ(job->state, kLoadStopped);
    }
    destroyLoadJob(job);
}

}  // namespace
