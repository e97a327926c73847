#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "core/converting_sink.h"
#include "core/log_sink.h"

namespace {

// A parent window with the log edit control as its child.
class LogWindow : public testing::Test {
protected:
    void SetUp() override {
        parent_ = CreateWindowExW(0, L"STATIC", L"log test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                  nullptr, nullptr);
        edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, 0,
                                0, 300, 120, parent_, nullptr, nullptr, nullptr);
        ASSERT_NE(edit_, nullptr);
        initConvertingSink(&sink_, MessageSink{edit_, &appendToLog});
    }
    void TearDown() override { DestroyWindow(parent_); }

    std::wstring logText() const {
        wchar_t text[4096];
        return std::wstring(text, static_cast<size_t>(GetWindowTextW(edit_, text, 4096)));
    }

    HWND parent_ = nullptr;
    HWND edit_ = nullptr;
    ConvertingSink sink_{};
};

}  // namespace

TEST_F(LogWindow, ThroughTheConvertingSink) {
    EXPECT_EQ(report(&sink_.self, kInfoText, reinterpret_cast<uintptr_t>("line1")), 1);
    EXPECT_EQ(report(&sink_.self, kProgress, 300), 1);
    EXPECT_EQ(reportCode(&sink_.self, kOutOfMemory), 1);  // its back-trace is not shown
    EXPECT_EQ(report(&sink_.self, kInfoFeatureLevel, 0xB000), 1);
    EXPECT_EQ(logText(), L"line1\r\nout of memory\r\nD3D info: GPU supports Direct3D 11\r\n");
}

TEST_F(LogWindow, AppendTextGoesToTheEndWhateverTheSelection) {
    const struct { int selectionStart, selectionEnd; const wchar_t *text, *log; } steps[] = {
        {0, 0, L"abc", L"abc"}, {0, 1, L"X", L"abcX"}, {2, 2, L"\r\nY", L"abcX\r\nY"}, {0, -1, L"Z", L"abcX\r\nYZ"}};
    for (const auto& step : steps) {
        SendMessageW(edit_, EM_SETSEL, step.selectionStart, step.selectionEnd);
        appendText(edit_, step.text);
        EXPECT_EQ(logText(), step.log);
    }
    EXPECT_EQ(SendMessageW(edit_, EM_CANUNDO, 0, 0), 0);
}

// Each line brings the end into view, even when the view was scrolled to the top.
TEST_F(LogWindow, ScrollsToTheEndAfterEachLine) {
    for (int i = 0; i < 100; ++i) report(&sink_.self, kInfoText, reinterpret_cast<uintptr_t>("line"));
    SendMessageW(edit_, WM_VSCROLL, SB_TOP, 0);
    ASSERT_EQ(SendMessageW(edit_, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    report(&sink_.self, kInfoText, reinterpret_cast<uintptr_t>("one more"));
    // 120 pixels show fewer than 20 lines.
    EXPECT_GT(SendMessageW(edit_, EM_GETFIRSTVISIBLELINE, 0, 0), SendMessageW(edit_, EM_GETLINECOUNT, 0, 0) - 20);
}
