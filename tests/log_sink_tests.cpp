#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "core/converting_sink.h"
#include "core/log_sink.h"

namespace {

// The log reads only the first field of the dialog's state: its window.
struct DialogStateStub {
    HWND window;
    int otherFields[4];
};

// A parent window with the log edit control as child 31.
class LogWindow : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"LogSinkTestParent";
        RegisterClassW(&windowClass);  // fails harmlessly when already registered
        parent_ = CreateWindowExW(0, L"LogSinkTestParent", L"log test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(parent_, nullptr);
        edit_ = CreateWindowExW(0, L"EDIT", L"",
                                WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL, 0, 0, 300, 120,
                                parent_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kLogControlId)),
                                windowClass.hInstance, nullptr);
        ASSERT_NE(edit_, nullptr);
        state_.window = parent_;
        initConvertingSink(&sink_, MessageSink{&state_, &appendToLog});
    }
    void TearDown() override {
        if (parent_) DestroyWindow(parent_);
    }

    std::wstring logText() const {
        int length = GetWindowTextLengthW(edit_);
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        text.resize(static_cast<size_t>(GetWindowTextW(edit_, text.data(), length + 1)));
        return text;
    }

    intptr_t appendLine(const wchar_t* line) {
        return appendToLog(&state_, kLine, reinterpret_cast<uintptr_t>(line), nullptr);
    }

    HWND parent_ = nullptr;
    HWND edit_ = nullptr;
    DialogStateStub state_{};
    ConvertingSink sink_{};
};

}  // namespace

TEST_F(LogWindow, ThroughTheConvertingSink) {
    const MessageSink* sink = &sink_.self;
    EXPECT_EQ(report(sink, kInfoText, reinterpret_cast<uintptr_t>("line1")), 1);
    EXPECT_EQ(report(sink, kProgress, 300), 1);
    EXPECT_EQ(reportCode(sink, 0x80000005), 1);  // its back-trace is not shown
    EXPECT_EQ(report(sink, 0x10000d00, 0xB000), 1);
    EXPECT_EQ(logText(), L"line1\r\nout of memory\r\nD3D info: GPU supports Direct3D 11\r\n");
}

TEST_F(LogWindow, AppendTextGoesToTheEndWhateverTheSelection) {
    appendText(edit_, L"abc");
    SendMessageW(edit_, EM_SETSEL, 0, 1);
    appendText(edit_, L"X");
    EXPECT_EQ(logText(), L"abcX");
    SendMessageW(edit_, EM_SETSEL, 2, 2);
    appendText(edit_, L"\r\nY");
    EXPECT_EQ(logText(), L"abcX\r\nY");
    SendMessageW(edit_, EM_SETSEL, 0, -1);
    appendText(edit_, L"Z");
    EXPECT_EQ(logText(), L"abcX\r\nYZ");
    EXPECT_EQ(SendMessageW(edit_, EM_CANUNDO, 0, 0), 0);
}

TEST_F(LogWindow, ScrollsToTheEndAfterManyLines) {
    for (int i = 0; i < 100; ++i) appendLine((L"line " + std::to_wstring(i)).c_str());
    LRESULT firstVisible = SendMessageW(edit_, EM_GETFIRSTVISIBLELINE, 0, 0);
    EXPECT_GT(firstVisible, 0);
    // The last line is in view: fewer lines follow the first visible one than a screenful of 120 pixels holds.
    LRESULT lines = SendMessageW(edit_, EM_GETLINECOUNT, 0, 0);
    EXPECT_LT(lines - firstVisible, 20);
    SendMessageW(edit_, EM_SETSEL, 0, 0);
    SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
    EXPECT_EQ(SendMessageW(edit_, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    appendLine(L"one more");
    EXPECT_GT(SendMessageW(edit_, EM_GETFIRSTVISIBLELINE, 0, 0), 0);
}
