// The listing of a real temporary folder through the shell, and what each
// Previous or Next step would open. Only the shell enumeration runs here: no
// Explorer window exists under Wine.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/folder_listing.h"
#include "tests/test_files.h"

namespace {

enum class Kind { Stl, Text, Damaged, Folder };

struct Entry {
    const char* name;
    Kind kind;
};

struct Step {
    bool forwards;
    const char* opens;  // nullptr: the step comes back to the shown file and opens nothing
};

struct ListingCase {
    const char* label;
    std::vector<Entry> entries;
    const char* opened;  // as given to the listing
    bool listed;
    std::vector<Step> steps;
};

constexpr bool kNext = true;
constexpr bool kPrevious = false;

const ListingCase kCases[] = {
    {"wraps both ways past a folder, a text file and a damaged STL file",
     {{"a1.stl", Kind::Stl}, {"a2.txt", Kind::Text}, {"a3.stl", Kind::Damaged}, {"a10.stl", Kind::Stl},
      {"sub", Kind::Folder}},
     "a1.stl",
     true,
     {{kNext, "a10.stl"}, {kNext, "a1.stl"}, {kPrevious, "a10.stl"}, {kPrevious, "a1.stl"}}},
    {"one STL file among others: both ways come back to it and stop",
     {{"notes.txt", Kind::Text}, {"only.stl", Kind::Stl}, {"readme.txt", Kind::Text}},
     "only.stl",
     true,
     {{kNext, nullptr}, {kPrevious, nullptr}, {kNext, nullptr}}},
    {"names in logical order",
     {{"part10.stl", Kind::Stl}, {"part2.stl", Kind::Stl}, {"part1.stl", Kind::Stl}},
     "part1.stl",
     true,
     {{kNext, "part2.stl"}, {kNext, "part10.stl"}, {kNext, "part1.stl"}, {kPrevious, "part10.stl"}}},
    {"a path that differs from the display name only in letter case",
     {{"Model.stl", Kind::Stl}, {"other.stl", Kind::Stl}},
     "model.stl",
     false,
     {}},
};

void create(const TempFolder& folder, const Entry& entry) {
    switch (entry.kind) {
    case Kind::Stl: folder.write(entry.name, binaryStl({unitTriangle()})); break;
    case Kind::Text: folder.write(entry.name, "just some text\r\n"); break;
    case Kind::Damaged: folder.write(entry.name, std::string(40, '\x7f')); break;
    case Kind::Folder: std::filesystem::create_directory(folder.directory() + entry.name); break;
    }
}

// Joins the thread however long the machine takes; each wait is bounded.
bool waitUntilJoined(FolderListing* listing) {
    bool ready = waitFolderListing(listing);
    for (int tries = 0; listing->thread && tries < 40; ++tries) ready = waitFolderListing(listing);
    return ready;
}

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

TEST(FolderListingTest, StepsThroughTheFolder) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto* state = static_cast<MainDialogState*>(calloc(1, sizeof(MainDialogState)));
    auto list = std::make_unique<FileNameList>();
    for (const ListingCase& row : kCases) {
        SCOPED_TRACE(row.label);
        TempFolder folder;
        for (const Entry& entry : row.entries) create(folder, entry);
        std::vector<Utf16> path = utf16Path(folder.directory() + row.opened);
        ASSERT_TRUE(makeFileNameList(path.data(), list.get()));
        startFolderListing(state, list.get(), nullptr);
        FolderListing* listing = state->folderListing;
        ASSERT_NE(listing, nullptr);
        ASSERT_EQ(waitUntilJoined(listing), row.listed);
        for (const Step& step : row.steps) {
            wchar_t opens[kItemNameUnits];
            bool found = stepToLoadableFile(listing, step.forwards, opens);
            if (!step.opens) {
                EXPECT_FALSE(found);
                EXPECT_EQ(listing->currentIndex, listing->shownIndex);
                continue;
            }
            ASSERT_TRUE(found) << step.opens;
            EXPECT_EQ(std::wstring(opens), wide(folder.directory() + step.opens));
            markListingShown(listing);
        }
    }
    free(state);
}

}  // namespace
