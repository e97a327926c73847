// The listing of a real temporary folder, and what each Previous or Next
// step would open: through the shell's enumeration, and through the view of
// an Explorer window as a proxy from another apartment. Wine never lists an
// Explorer window, so a thread of the test stands in for explorer.exe.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/folder_listing.h"
#include "app/window_apartment.h"
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

std::wstring wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Each wait is bounded: join however long the machine takes.
bool joined(FolderListing* listing) {
    bool ready = waitFolderListing(listing);
    for (int tries = 0; listing->thread && tries < 40; ++tries) ready = waitFolderListing(listing);
    return ready;
}

// A step that never ends (a fault that goes round the folder for ever) fails
// the run in 30 s instead of holding it until the test's time limit. The step
// itself stays on this thread, the window thread, as in the viewer.
const wchar_t* stepWithin(FolderListing* listing, bool forwards) {
    std::promise<void> ended;
    std::thread watchdog([done = ended.get_future()] {
        if (done.wait_for(std::chrono::seconds(30)) == std::future_status::ready) return;
        printf("a step through a folder of a few files has not ended in 30 s\n");
        fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    });
    const wchar_t* opens = stepToLoadableFile(listing, forwards);
    ended.set_value();
    watchdog.join();
    return opens;
}

// Takes the steps on this thread, each opened file becoming the shown one.
void expectSteps(FolderListing* listing, const std::string& directory, const std::vector<std::string>& steps) {
    for (const std::string& step : steps) {
        SCOPED_TRACE(step);
        const wchar_t* opens = stepWithin(listing, step[0] == '+');
        ASSERT_EQ(opens != nullptr, step.size() > 1);
        if (!opens) {
            EXPECT_EQ(listing->currentIndex, listing->shownIndex);
            continue;
        }
        EXPECT_EQ(std::wstring(opens), wide(directory + step.substr(1)));
        markListingShown(listing);
    }
}

TEST(FolderListingTest, StepsThroughTheFolder) {
    ASSERT_TRUE(enterWindowThreadApartment());
    FolderListing* listing = nullptr;
    for (const ListingCase& row : kCases) {
        SCOPED_TRACE(row.label);
        TempFolder folder;
        for (const std::string& entry : row.entries) create(folder, entry);
        listing = replaceFolderListing(listing, wide(folder.directory() + row.opened).c_str(), nullptr);
        ASSERT_NE(listing, nullptr);
        ASSERT_EQ(joined(listing), row.listed);
        expectSteps(listing, folder.directory(), row.steps);
    }
    releaseFolderListing(listing);
}

template <typename Interface>
HRESULT answer(Interface* object, void** result) {
    object->AddRef();
    *result = object;
    return S_OK;
}

// A COM object of one thread; the proxy calls reach it through that thread's messages.
template <typename Primary, typename... Others>
class Object : public Primary, public Others... {
public:
    virtual ~Object() = default;
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (!left) delete this;
        return left;
    }
    STDMETHODIMP QueryInterface(REFIID id, void** result) override {
        *result = nullptr;
        if (id == IID_IUnknown || id == __uuidof(Primary)) return answer(static_cast<Primary*>(this), result);
        bool found = ((id == __uuidof(Others) && (*result = static_cast<Others*>(this))) || ...);
        if (!found) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    ULONG references_ = 1;
};

class ItemEnumerator : public Object<IEnumIDList> {
public:
    explicit ItemEnumerator(std::vector<LPITEMIDLIST> items) : items_(std::move(items)) {}
    ~ItemEnumerator() override {
        for (LPITEMIDLIST item : items_) ILFree(item);
    }
    STDMETHODIMP Next(ULONG wanted, PITEMID_CHILD* out, ULONG* fetched) override {
        ULONG count = 0;
        for (; count < wanted && next_ < items_.size(); ++count) out[count] = ILClone(items_[next_++]);
        if (fetched) *fetched = count;
        return count == wanted ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        next_ += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumIDList**) override { return E_NOTIMPL; }

private:
    std::vector<LPITEMIDLIST> items_;
    size_t next_ = 0;
};

// The view of an Explorer window on a real folder, in an order of its own.
class FolderView : public Object<IShellView, IFolderView> {
public:
    FolderView(IShellFolder* folder, std::vector<std::wstring> order, std::wstring selected, bool shellItems)
        : folder_(folder), order_(std::move(order)), selected_(std::move(selected)), shellItems_(shellItems) {
        folder_->AddRef();
    }
    ~FolderView() override { folder_->Release(); }
    // Both bases have GetWindow and ContextSensitiveHelp through IOleWindow.
    STDMETHODIMP GetWindow(HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*) override { return S_FALSE; }
    STDMETHODIMP EnableModeless(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP UIActivate(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP CreateViewWindow(IShellView*, LPCFOLDERSETTINGS, IShellBrowser*, RECT*, HWND*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP DestroyViewWindow() override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentInfo(LPFOLDERSETTINGS) override { return E_NOTIMPL; }
    STDMETHODIMP AddPropertySheetPages(DWORD, LPFNSVADDPROPSHEETPAGE, LPARAM) override { return E_NOTIMPL; }
    STDMETHODIMP SaveViewState() override { return E_NOTIMPL; }
    STDMETHODIMP SelectItem(PCUITEMID_CHILD, SVSIF) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemObject(UINT, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentViewMode(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetCurrentViewMode(UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetFolder(REFIID id, void** result) override { return folder_->QueryInterface(id, result); }
    STDMETHODIMP Item(int, PITEMID_CHILD*) override { return E_NOTIMPL; }
    STDMETHODIMP ItemCount(UINT, int*) override { return E_NOTIMPL; }
    STDMETHODIMP Items(UINT which, REFIID id, void** result) override {
        *result = nullptr;
        if (id != IID_IEnumIDList && (id != IID_IShellItemArray || !shellItems_)) return E_NOINTERFACE;
        std::vector<LPITEMIDLIST> items;
        for (const std::wstring& name : which == SVGIO_SELECTION ? std::vector<std::wstring>{selected_} : order_) {
            LPITEMIDLIST item = nullptr;
            if (FAILED(folder_->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(name.c_str()), nullptr, &item,
                                                 nullptr)))
                return E_FAIL;
            items.push_back(item);
        }
        if (id == IID_IEnumIDList) {
            *result = static_cast<IEnumIDList*>(new ItemEnumerator(std::move(items)));
            return S_OK;
        }
        HRESULT made = SHCreateShellItemArray(nullptr, folder_, UINT(items.size()),
                                              const_cast<PCUITEMID_CHILD_ARRAY>(items.data()),
                                              reinterpret_cast<IShellItemArray**>(result));
        for (LPITEMIDLIST item : items) ILFree(item);
        return made;
    }
    STDMETHODIMP GetSelectionMarkedItem(int*) override { return E_NOTIMPL; }
    STDMETHODIMP GetFocusedItem(int*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemPosition(PCUITEMID_CHILD, POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetSpacing(POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDefaultSpacing(POINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetAutoArrange() override { return E_NOTIMPL; }
    STDMETHODIMP SelectItem(int, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SelectAndPositionItems(UINT, PCUITEMID_CHILD_ARRAY, POINT*, DWORD) override { return E_NOTIMPL; }

private:
    IShellFolder* folder_;
    std::vector<std::wstring> order_;
    std::wstring selected_;
    bool shellItems_;
};

// The window object: the top-level browser as a service, and its active view.
class Browser : public Object<IServiceProvider, IShellBrowser> {
public:
    Browser(IShellView* view, HWND tab) : view_(view), tab_(tab) {}
    ~Browser() override { view_->Release(); }
    STDMETHODIMP QueryService(REFGUID service, REFIID id, void** result) override {
        *result = nullptr;
        return service == SID_STopLevelBrowser ? QueryInterface(id, result) : E_NOINTERFACE;
    }
    STDMETHODIMP GetWindow(HWND* window) override {
        *window = tab_;
        return tab_ ? S_OK : E_NOTIMPL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InsertMenusSB(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenuSB(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenusSB(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusTextSB(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP EnableModelessSB(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAcceleratorSB(MSG*, WORD) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseObject(PCUIDLIST_RELATIVE, UINT) override { return E_NOTIMPL; }
    STDMETHODIMP GetViewStateStream(DWORD, IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetControlWindow(UINT, HWND*) override { return E_NOTIMPL; }
    STDMETHODIMP SendControlMsg(UINT, UINT, WPARAM, LPARAM, LRESULT*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryActiveShellView(IShellView** view) override { return answer(view_, reinterpret_cast<void**>(view)); }
    STDMETHODIMP OnViewWindowActive(IShellView*) override { return E_NOTIMPL; }
    STDMETHODIMP SetToolbarItems(LPTBBUTTONSB, UINT, UINT) override { return E_NOTIMPL; }

private:
    IShellView* view_;
    HWND tab_;
};

// How explorer.exe's window gives its view.
struct ExplorerKind {
    const char* label;
    DWORD apartment;  // single-threaded: the listing gets proxies; multithreaded: the objects themselves
    bool shellItems;  // the view gives its items as shell items too
    HWND window;      // the Explorer window the file was opened from
    HWND tab;         // the browser's own window: the tab it shows in
    bool viewTaken;   // its order is the listing's
};

// explorer.exe in miniature: an apartment that owns the window object and,
// single-threaded, answers the calls made on its proxies.
class ExplorerThread {
public:
    ExplorerThread(const std::string& directory, std::vector<std::wstring> order, std::wstring selected,
                   const ExplorerKind& kind) {
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = std::thread([=, this] {
            CoInitializeEx(nullptr, kind.apartment);
            threadId_ = GetCurrentThreadId();
            IShellFolder* desktop = nullptr;
            IShellFolder* folder = nullptr;
            LPITEMIDLIST id = ILCreateFromPathW(wide(directory).c_str());
            if (id && SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
                SUCCEEDED(desktop->BindToObject(id, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)))) {
                FolderView* view = new FolderView(folder, order, selected, kind.shellItems);
                Browser* browser = new Browser(static_cast<IShellView*>(view), kind.tab);
                CoMarshalInterThreadInterfaceInStream(IID_IServiceProvider, static_cast<IServiceProvider*>(browser),
                                                      &stream_);
                browser->Release();
                folder->Release();
            }
            if (desktop) desktop->Release();
            ILFree(id);
            SetEvent(ready);
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
            CoUninitialize();
        });
        WaitForSingleObject(ready, INFINITE);
        CloseHandle(ready);
    }
    ~ExplorerThread() {
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }
    IStream* takeStream() { return std::exchange(stream_, nullptr); }

private:
    std::thread thread_;
    DWORD threadId_ = 0;
    IStream* stream_ = nullptr;
};

// The listing thread reads the view through proxies to the window's
// apartment, and the window thread (this one, a single-threaded apartment
// of its own) steps in the view's order, which is neither the names' nor
// the folder's, without calling any of them. A view that gives only item
// identifier lists is read in the listing's own apartment: Wine's proxies
// drop the lists' bytes, which Windows' carry.
TEST(FolderListingTest, StepsInTheOrderOfAnExplorerViewInAnotherApartment) {
    ASSERT_TRUE(enterWindowThreadApartment());
    // A window with tabs as Windows 11 makes them: the shown tab is its first tab window.
    WNDCLASSW tabClass{};
    tabClass.lpfnWndProc = DefWindowProcW;
    tabClass.lpszClassName = L"ShellTabWindowClass";
    RegisterClassW(&tabClass);
    HWND tabbed = CreateWindowW(L"Static", L"Explorer", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                                nullptr);
    HWND shownTab = CreateWindowW(L"ShellTabWindowClass", L"", WS_CHILD, 0, 0, 10, 10, tabbed, nullptr, nullptr, nullptr);
    HWND otherWindow = CreateWindowW(L"Static", L"", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    const ExplorerKind kinds[] = {
        {"proxies to shell items", COINIT_APARTMENTTHREADED, true, nullptr, nullptr, true},
        {"item identifier lists", COINIT_MULTITHREADED, false, nullptr, nullptr, true},
        {"the shown tab of a window with tabs", COINIT_APARTMENTTHREADED, true, tabbed, shownTab, true},
        {"another tab of it", COINIT_APARTMENTTHREADED, true, tabbed, otherWindow, false},
        {"a window without tabs", COINIT_APARTMENTTHREADED, true, otherWindow, otherWindow, true},
    };
    for (const ExplorerKind& kind : kinds) {
        SCOPED_TRACE(kind.label);
        TempFolder folder;
        for (const char* name : {"a.stl", "b.stl", "c.stl", "notes.txt"}) create(folder, name);
        ExplorerThread explorer(folder.directory(), {L"b.stl", L"notes.txt", L"a.stl", L"c.stl"}, L"a.stl", kind);
        IStream* browser = explorer.takeStream();
        ASSERT_NE(browser, nullptr);
        FolderListing* listing = replaceFolderListingFromBrowser(nullptr, wide(folder.directory() + "a.stl").c_str(),
                                                                 kind.window, browser);
        ASSERT_NE(listing, nullptr);
        ASSERT_TRUE(joined(listing));
        EXPECT_EQ(listing->itemCount, 4);
        if (kind.viewTaken) {
            EXPECT_EQ(listing->shownIndex, 2);
            expectSteps(listing, folder.directory(), {"+c.stl", "+b.stl", "+a.stl", "-b.stl", "-c.stl"});
        } else {  // the folder by name instead
            expectSteps(listing, folder.directory(), {"+b.stl", "+c.stl", "+a.stl"});
        }
        releaseFolderListing(listing);
    }
    for (HWND window : {shownTab, tabbed, otherWindow}) DestroyWindow(window);
}

}  // namespace
