// The listing of a real temporary folder through the shell, and what each
// Previous or Next step would open. Only the shell enumeration runs here: no
// Explorer window exists under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "app/folder_listing.h"
#include "tests/test_files.h"

namespace {

// Entries by name: "x/" a folder, "*.txt" text, "*bad*" a damaged STL file,
// the rest binary STL. Steps: '+' Next, '-' Previous, then the file it opens,
// or nothing when it comes back to the shown file.
struct ListingCase {
    const char* label;
    std::vector<std::string> entries;
    const char* opened;  // as given to the listing
    bool listed;
    std::vector<std::string> steps;
};

const ListingCase kCases[] = {
    {"wraps both ways past a folder, a text file and a damaged STL file",
     {"a1.stl", "a2.txt", "a3bad.stl", "a10.stl", "sub/"}, "a1.stl", true,
     {"+a10.stl", "+a1.stl", "-a10.stl", "-a1.stl"}},
    {"one STL file among others: both ways come back to it and stop",
     {"notes.txt", "only.stl", "readme.txt"}, "only.stl", true, {"+", "-", "+"}},
    {"names in logical order",
     {"part10.stl", "part2.stl", "part1.stl"}, "part1.stl", true,
     {"+part2.stl", "+part10.stl", "+part1.stl", "-part10.stl"}},
    {"a path that differs from the display name only in letter case",
     {"Model.stl", "other.stl"}, "model.stl", false, {}},
};

void create(const TempFolder& folder, const std::string& name) {
    if (name.back() == '/') std::filesystem::create_directory(folder.directory() + name);
    else if (name.ends_with(".txt")) folder.write(name, "just some text\r\n");
    else if (name.find("bad") != std::string::npos) folder.write(name, std::string(40, '\x7f'));
    else folder.write(name, binaryStl({unitTriangle()}));
}

// A step on a thread of its own, waited for a bounded time: a step that never
// ends (a fault that goes round the folder for ever) fails the run in seconds
// instead of holding it until the test's time limit. Nothing can stop that
// thread, and it holds the listing, so the process ends there.
bool stepWithin(FolderListing* listing, bool forwards, wchar_t (&opens)[kItemNameUnits]) {
    std::future<bool> step = std::async(std::launch::async, [&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the listing's objects live in this apartment
        bool found = stepToLoadableFile(listing, forwards, opens);
        CoUninitialize();
        return found;
    });
    if (step.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "a step through a folder of a few files has not ended in 30 s";
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return step.get();
}

TEST(FolderListingTest, StepsThroughTheFolder) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    FolderListing* listing = nullptr;
    auto list = std::make_unique<FileNameList>();
    for (const ListingCase& row : kCases) {
        SCOPED_TRACE(row.label);
        TempFolder folder;
        for (const std::string& entry : row.entries) create(folder, entry);
        std::vector<Utf16> path = utf16Path(folder.directory() + row.opened);
        ASSERT_TRUE(makeFileNameList(path.data(), list.get()));
        listing = replaceFolderListing(listing, list->path, nullptr);
        ASSERT_NE(listing, nullptr);
        bool ready = waitFolderListing(listing);  // each wait is bounded: join however long the machine takes
        for (int tries = 0; listing->thread && tries < 40; ++tries) ready = waitFolderListing(listing);
        ASSERT_EQ(ready, row.listed);
        for (const std::string& step : row.steps) {
            SCOPED_TRACE(step);
            wchar_t opens[kItemNameUnits];
            bool found = stepWithin(listing, step[0] == '+', opens);
            ASSERT_EQ(found, step.size() > 1);
            if (!found) {
                EXPECT_EQ(listing->currentIndex, listing->shownIndex);
                continue;
            }
            std::string expected = folder.directory() + step.substr(1);
            EXPECT_EQ(std::wstring(opens), std::wstring(expected.begin(), expected.end()));
            markListingShown(listing);
        }
    }
}

}  // namespace
