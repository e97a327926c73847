#include "app/folder_listing.h"

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <initializer_list>

#include "core/platform.h"
#include "load/load_job.h"
#include "view/com_helpers.h"

namespace {

constexpr ULONG kBatchItems = 1024;
constexpr DWORD kStorageItems = 0x800;  // SHCONTF_STORAGE
// Under Wine SHCONTF_STORAGE alone lists nothing; folders and files are asked for by name too.
constexpr DWORD kEnumerationFlags = kStorageItems | SHCONTF_FOLDERS | SHCONTF_NONFOLDERS;
constexpr UINT kViewOrderItems = 0x80000002;  // SVGIO_ALLVIEW | SVGIO_FLAG_VIEWORDER
// Long enough for a listing that is merely slow, short enough that a hung
// Explorer does not freeze the window.
constexpr DWORD kListingWaitMs = 1500;
constexpr LONG kThreadDone = 1, kGivenUp = 2;

// Item identifier lists from the shell, for the time one view is read.
struct ItemList {
    LPITEMIDLIST* items;
    int32_t count;
};

void freeItems(ItemList* list) {
    for (int32_t k = 0; k < list->count; ++k) CoTaskMemFree(list->items[k]);
    freeBytes(list->items);
    *list = ItemList{nullptr, 0};
}

bool collectItems(IEnumIDList* enumerator, ItemList* list) {
    *list = ItemList{nullptr, 0};
    for (;;) {
        uint64_t room = uint64_t{static_cast<uint32_t>(list->count)} + kBatchItems;
        void* grown = nullptr;
        if (room <= INT32_MAX)
            grown = list->items ? reallocArray(processHeap(), list->items, room, sizeof *list->items, nullptr)
                                : allocArray(processHeap(), room, sizeof *list->items, nullptr);
        if (grown) list->items = static_cast<LPITEMIDLIST*>(grown);
        ULONG fetched = 0;
        if (!grown || FAILED(enumerator->Next(kBatchItems, list->items + list->count, &fetched))) {
            freeItems(list);
            return false;
        }
        if (fetched == 0) return true;
        list->count += static_cast<int32_t>(fetched);
    }
}

bool collectViewItems(IFolderView* view, UINT which, ItemList* list) {
    IEnumIDList* enumerator = nullptr;
    bool collected = SUCCEEDED(view->Items(which, IID_IEnumIDList, reinterpret_cast<void**>(&enumerator))) &&
                     enumerator && collectItems(enumerator, list);
    releaseInterface(enumerator);
    return collected;
}

uint32_t* nameStarts(const FolderListing* listing) {
    return static_cast<uint32_t*>(listing->starts.data);
}

void forgetNames(FolderListing* listing) {
    freeBytes(listing->names.data);
    freeBytes(listing->starts.data);
    listing->names = GrowBuffer{nullptr, 0, 0};
    listing->starts = GrowBuffer{nullptr, 0, 0};
    listing->itemCount = 0;
}

bool appendBytes(GrowBuffer* buffer, const void* bytes, uint64_t size) {
    uint64_t needed = buffer->used + size;
    if (needed > buffer->capacity && !growBuffer(buffer, needed, processHeap(), nullptr)) return false;
    memcpy(static_cast<uint8_t*>(buffer->data) + buffer->used, bytes, size);
    buffer->used = needed;
    return true;
}

// The name, terminated, as the listing's next item.
bool appendName(FolderListing* listing, const wchar_t* name, size_t length) {
    uint64_t start = listing->names.used / sizeof(wchar_t);
    const wchar_t terminator = 0;
    if (start > UINT32_MAX - length - 1 || listing->itemCount == INT32_MAX) return false;
    uint32_t start32 = static_cast<uint32_t>(start);
    if (!appendBytes(&listing->names, name, length * sizeof(wchar_t)) ||
        !appendBytes(&listing->names, &terminator, sizeof terminator) ||
        !appendBytes(&listing->starts, &start32, sizeof start32))
        return false;
    ++listing->itemCount;
    return true;
}

// The item's parsing name (its full path, for files), however long; an item
// the shell names no path for gets an empty one, which no step opens.
bool appendParsingName(FolderListing* listing, IShellFolder* folder, LPCITEMIDLIST item) {
    STRRET text;
    wchar_t* name = nullptr;
    if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_FORPARSING, &text))) StrRetToStrW(&text, item, &name);
    bool appended = appendName(listing, name ? name : L"", name ? lstrlenW(name) : 0);
    CoTaskMemFree(name);
    return appended;
}

bool appendParsingNames(FolderListing* listing, IShellFolder* folder, const ItemList* items) {
    for (int32_t k = 0; k < items->count; ++k)
        if (!appendParsingName(listing, folder, items->items[k])) return false;
    return true;
}

// Unit by unit: a path that differs only in letter case is another name.
bool sameText(const wchar_t* a, const wchar_t* b) {
    return lstrcmpW(a, b) == 0;
}

bool sameItemList(LPCITEMIDLIST a, LPCITEMIDLIST b) {
    for (;;) {
        USHORT size = a->mkid.cb;
        if (size != b->mkid.cb) return false;
        if (size == 0) return true;
        if (memcmp(a, b, size) != 0) return false;
        a = reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(a) + size);
        b = reinterpret_cast<LPCITEMIDLIST>(reinterpret_cast<const BYTE*>(b) + size);
    }
}

void pointAt(FolderListing* listing, int32_t index) {
    listing->currentIndex = index;
    listing->shownIndex = index;
}

// The opened file among the items of its name: the selected one where
// there are several (search results and libraries may show a file twice),
// else the first.
template <typename IsSelected>
bool locateOpenedItem(FolderListing* listing, IsSelected isSelected) {
    int32_t first = -1;
    for (int32_t k = 0; k < listing->itemCount; ++k) {
        if (!sameText(listedPath(listing, k), listing->path)) continue;
        if (first < 0) first = k;
        if (isSelected(k)) {
            first = k;
            break;
        }
    }
    if (first < 0) return false;
    pointAt(listing, first);
    return true;
}

bool sameShellItem(IShellItem* a, IShellItem* b) {
    int order = 1;
    return a && b && a->Compare(b, SICHINT_CANONICAL, &order) == S_OK && order == 0;
}

bool inSelection(IShellItemArray* items, DWORD index, IShellItemArray* selection) {
    DWORD count = 0;
    if (!selection || FAILED(selection->GetCount(&count))) return false;
    IShellItem* item = nullptr;
    items->GetItemAt(index, &item);
    bool found = false;
    for (DWORD s = 0; item && s < count && !found; ++s) {
        IShellItem* selected = nullptr;
        found = SUCCEEDED(selection->GetItemAt(s, &selected)) && sameShellItem(item, selected);
        releaseInterface(selected);
    }
    releaseInterface(item);
    return found;
}

bool appendItemName(FolderListing* listing, IShellItemArray* items, DWORD index) {
    IShellItem* item = nullptr;
    wchar_t* name = nullptr;
    if (SUCCEEDED(items->GetItemAt(index, &item))) item->GetDisplayName(SIGDN_DESKTOPABSOLUTEPARSING, &name);
    bool appended = appendName(listing, name ? name : L"", name ? lstrlenW(name) : 0);
    CoTaskMemFree(name);
    releaseInterface(item);
    return appended;
}

// The view's items as shell items: only interfaces and strings cross to the
// window's apartment.
bool readItemArray(FolderListing* listing, IFolderView* view) {
    IShellItemArray* items = nullptr;
    IShellItemArray* selection = nullptr;
    DWORD count = 0;
    bool read = SUCCEEDED(view->Items(kViewOrderItems, IID_IShellItemArray, reinterpret_cast<void**>(&items))) &&
                items && SUCCEEDED(items->GetCount(&count)) && count > 0 && count <= INT32_MAX;
    for (DWORD k = 0; read && k < count; ++k) read = appendItemName(listing, items, k);
    if (read) {
        view->Items(SVGIO_SELECTION, IID_IShellItemArray, reinterpret_cast<void**>(&selection));
        read = locateOpenedItem(listing, [&](int32_t k) { return inSelection(items, static_cast<DWORD>(k), selection); });
    }
    releaseInterface(selection);
    releaseInterface(items);
    return read;
}

// As item identifier lists, named by the view's folder: for a view that
// gives no shell items.
bool readItemIds(FolderListing* listing, IFolderView* view) {
    IShellFolder* folder = nullptr;
    ItemList items{nullptr, 0}, selected{nullptr, 0};
    bool read = SUCCEEDED(view->GetFolder(IID_IShellFolder, reinterpret_cast<void**>(&folder))) &&
                collectViewItems(view, kViewOrderItems, &items) && items.count > 0 &&
                appendParsingNames(listing, folder, &items);
    if (read) {
        collectViewItems(view, SVGIO_SELECTION, &selected);
        read = locateOpenedItem(listing, [&](int32_t k) {
            for (int32_t s = 0; s < selected.count; ++s)
                if (sameItemList(selected.items[s], items.items[k])) return true;
            return false;
        });
    }
    freeItems(&selected);
    freeItems(&items);
    releaseInterface(folder);
    return read;
}

// Windows 11 shows an Explorer window's tabs in one top-level window: each
// tab is a window object of its own with that window's handle, and the tab
// shown is the first "ShellTabWindowClass" child, whose handle the tab's
// browser gives as its window. Older Explorer windows have no such child.
HWND shownTabOf(HWND explorerWindow) {
    return explorerWindow ? FindWindowExW(explorerWindow, nullptr, L"ShellTabWindowClass", nullptr) : nullptr;
}

bool isTab(IShellBrowser* browser, HWND tab) {
    HWND own = nullptr;
    return !tab || (SUCCEEDED(browser->GetWindow(&own)) && own == tab);
}

// The items of a browser's view in view order, named; true when the opened
// file is among them. `tab`, when not null, is the only tab taken.
bool readBrowserView(FolderListing* listing, IUnknown* window, HWND tab) {
    IServiceProvider* provider = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* shellView = nullptr;
    IFolderView* view = nullptr;
    bool found = SUCCEEDED(window->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider))) &&
                 SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                                  reinterpret_cast<void**>(&browser))) &&
                 isTab(browser, tab) && SUCCEEDED(browser->QueryActiveShellView(&shellView)) &&
                 SUCCEEDED(shellView->QueryInterface(IID_IFolderView, reinterpret_cast<void**>(&view)));
    bool read = found && readItemArray(listing, view);
    if (found && !read) {
        forgetNames(listing);
        read = readItemIds(listing, view);
    }
    if (!read) forgetNames(listing);
    for (IUnknown* object : {static_cast<IUnknown*>(view), static_cast<IUnknown*>(shellView),
                             static_cast<IUnknown*>(browser), static_cast<IUnknown*>(provider)})
        releaseInterface(object);
    return read;
}

bool isWindowOf(IDispatch* item, HWND window) {
    IWebBrowserApp* browser = nullptr;
    SHANDLE_PTR handle = 0;
    bool same = SUCCEEDED(item->QueryInterface(IID_IWebBrowserApp, reinterpret_cast<void**>(&browser))) &&
                SUCCEEDED(browser->get_HWND(&handle)) && reinterpret_cast<HWND>(handle) == window;
    releaseInterface(browser);
    return same;
}

bool readDesktopView(FolderListing* listing, IShellWindows* windows) {
    VARIANT at, root;
    VariantInit(&at);
    VariantInit(&root);
    at.vt = VT_I4;
    at.lVal = CSIDL_DESKTOP;
    long handle = 0;
    IDispatch* desktop = nullptr;
    bool read = windows->FindWindowSW(&at, &root, SWC_DESKTOP, &handle, SWFO_NEEDDISPATCH, &desktop) == S_OK &&
                desktop && readBrowserView(listing, desktop, nullptr);
    releaseInterface(desktop);
    return read;
}

// The shown tab first; then any tab of the window that shows the file.
bool readExplorerWindow(FolderListing* listing, IShellWindows* windows) {
    HWND shownTab = shownTabOf(listing->explorerWindow);
    for (HWND tab : {shownTab, static_cast<HWND>(nullptr)}) {
        VARIANT at;
        VariantInit(&at);
        at.vt = VT_I4;
        for (at.lVal = 0;; ++at.lVal) {
            IDispatch* item = nullptr;
            if (windows->Item(at, &item) != S_OK) break;
            bool read = item && isWindowOf(item, listing->explorerWindow) && readBrowserView(listing, item, tab);
            releaseInterface(item);
            if (read) return true;
        }
        if (!shownTab) break;
    }
    return false;
}

bool listExplorerView(FolderListing* listing) {
    IShellWindows* windows = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                                reinterpret_cast<void**>(&windows))))
        return false;
    bool read = listing->explorerWindow == GetShellWindow() ? readDesktopView(listing, windows)
                                                            : readExplorerWindow(listing, windows);
    releaseInterface(windows);
    return read;
}

bool listHandedBrowser(FolderListing* listing) {
    IStream* stream = listing->handedBrowser;
    listing->handedBrowser = nullptr;
    IUnknown* browser = nullptr;
    bool read = SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(&browser))) &&
                readBrowserView(listing, browser, shownTabOf(listing->explorerWindow));
    releaseInterface(browser);
    return read;
}

// The folder's length in units, its trailing separator kept.
size_t folderLength(const wchar_t* path) {
    size_t length = 0;
    for (size_t at = 0; path[at]; ++at)
        if (path[at] == L'\\' || path[at] == L'/') length = at + 1;
    return length;
}

bool enumerateWithShell(FolderListing* listing) {
    wchar_t* path = listing->path;
    size_t cut = folderLength(path);
    wchar_t kept = path[cut];
    path[cut] = 0;
    LPITEMIDLIST folderId = ILCreateFromPathW(path);
    path[cut] = kept;
    IShellFolder* desktop = nullptr;
    IShellFolder* folder = nullptr;
    IEnumIDList* enumerator = nullptr;
    ItemList items{nullptr, 0};
    bool listed = folderId && SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
                  SUCCEEDED(desktop->BindToObject(folderId, nullptr, IID_IShellFolder,
                                                  reinterpret_cast<void**>(&folder))) &&
                  folder->EnumObjects(nullptr, kEnumerationFlags, &enumerator) == S_OK &&
                  collectItems(enumerator, &items) && appendParsingNames(listing, folder, &items);
    if (!listed) forgetNames(listing);
    freeItems(&items);
    releaseInterface(enumerator);
    releaseInterface(folder);
    releaseInterface(desktop);
    ILFree(folderId);
    return listed;
}

bool isDotName(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// The folder's entries straight from the file system, where the shell cannot
// reach (a folder path of MAX_PATH and more, which the shell's namespace
// does not take everywhere).
bool enumerateFileSystem(FolderListing* listing) {
    size_t folder = folderLength(listing->path);
    if (folder == 0) return false;
    wchar_t* pattern = static_cast<wchar_t*>(allocArray(processHeap(), folder + 2, sizeof(wchar_t), nullptr));
    wchar_t* name = pattern ? static_cast<wchar_t*>(allocArray(processHeap(), folder + MAX_PATH, sizeof(wchar_t), nullptr))
                            : nullptr;
    SystemPath systemPattern{nullptr, nullptr};
    bool listed = false;
    if (name) {
        memcpy(pattern, listing->path, folder * sizeof(wchar_t));
        pattern[folder] = L'*';
        pattern[folder + 1] = 0;
        memcpy(name, listing->path, folder * sizeof(wchar_t));
        if (makeSystemPath(pattern, &systemPattern)) {
            WIN32_FIND_DATAW found;
            HANDLE search = FindFirstFileExW(systemPattern.text, FindExInfoBasic, &found, FindExSearchNameMatch,
                                             nullptr, 0);
            listed = search != INVALID_HANDLE_VALUE;
            while (listed) {
                if (!isDotName(found.cFileName)) {
                    size_t length = static_cast<size_t>(lstrlenW(found.cFileName));
                    memcpy(name + folder, found.cFileName, length * sizeof(wchar_t));
                    listed = appendName(listing, name, folder + length);
                }
                if (!FindNextFileW(search, &found)) break;
            }
            if (search != INVALID_HANDLE_VALUE) FindClose(search);
        }
    }
    releaseSystemPath(&systemPattern);
    freeBytes(name);
    freeBytes(pattern);
    if (!listed) forgetNames(listing);
    return listed;
}

// Stable, so items with equal names keep the enumeration order. Merges back
// and forth between the two arrays; returns the one that holds the result.
uint32_t* mergeSortByName(const wchar_t* names, uint32_t* entries, uint32_t* scratch, int64_t count) {
    for (int64_t width = 1; width < count; width *= 2) {
        for (int64_t left = 0; left < count; left += 2 * width) {
            int64_t middle = left + width < count ? left + width : count;
            int64_t right = left + 2 * width < count ? left + 2 * width : count;
            int64_t a = left, b = middle, out = left;
            while (a < middle && b < right)
                scratch[out++] = StrCmpLogicalW(names + entries[b], names + entries[a]) < 0 ? entries[b++] : entries[a++];
            while (a < middle) scratch[out++] = entries[a++];
            while (b < right) scratch[out++] = entries[b++];
        }
        uint32_t* merged = scratch;
        scratch = entries;
        entries = merged;
    }
    return entries;
}

// Explorer's default order of names ("part2" before "part10"). The shell's
// own enumeration order is the directory's raw order on some systems, which
// no user sees. Without memory the enumeration order stays.
void sortByName(FolderListing* listing) {
    int32_t count = listing->itemCount;
    if (count < 2) return;
    uint32_t* scratch = static_cast<uint32_t*>(allocArray(processHeap(), static_cast<uint64_t>(count), sizeof(uint32_t), nullptr));
    if (!scratch) return;
    uint32_t* starts = nameStarts(listing);
    const uint32_t* sorted = mergeSortByName(static_cast<const wchar_t*>(listing->names.data), starts, scratch, count);
    if (sorted != starts) memcpy(starts, sorted, static_cast<size_t>(count) * sizeof(uint32_t));
    freeBytes(scratch);
}

bool listInViewOrder(FolderListing* listing) {
    if (listing->handedBrowser) return listHandedBrowser(listing);
    return listing->explorerWindow && listExplorerView(listing);
}

bool listByName(FolderListing* listing) {
    if (!enumerateWithShell(listing) && !enumerateFileSystem(listing)) return false;
    sortByName(listing);
    if (locateOpenedItem(listing, [](int32_t) { return false; })) return true;
    forgetNames(listing);
    return false;
}

void freeListing(FolderListing* listing) {
    forgetNames(listing);
    freeBytes(listing->path);
    freeBytes(listing);
}

// A foreground Explorer window showing another folder than the file's does
// not cost the listing: the folder is then enumerated.
DWORD WINAPI runFolderListing(void* parameter) {
    FolderListing* listing = static_cast<FolderListing*>(parameter);
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        listing->state = listInViewOrder(listing) || listByName(listing) ? kListingReady : kListingFailed;
        CoUninitialize();
    }
    if (InterlockedExchange(&listing->finished, kThreadDone) == kGivenUp) freeListing(listing);
    return 0;
}

wchar_t* copyPath(const wchar_t* path) {
    size_t units = static_cast<size_t>(lstrlenW(path)) + 1;
    wchar_t* copy = static_cast<wchar_t*>(allocArray(processHeap(), units, sizeof(wchar_t), nullptr));
    if (copy) memcpy(copy, path, units * sizeof(wchar_t));
    return copy;
}

FolderListing* createFolderListing(const wchar_t* path, HWND explorerWindow, IStream* browser) {
    auto* listing = static_cast<FolderListing*>(allocArray(processHeap(), 1, sizeof(FolderListing), nullptr));
    if (listing) {
        *listing = FolderListing{nullptr, kListingRunning, GrowBuffer{nullptr, 0, 0}, GrowBuffer{nullptr, 0, 0}, 0,
                                 0, 0, copyPath(path), explorerWindow, browser, 0};
        if (listing->path) listing->thread = CreateThread(nullptr, 0, runFolderListing, listing, 0, nullptr);
        if (listing->thread) return listing;
        freeListing(listing);
    }
    releaseInterface(browser);
    return nullptr;
}

}  // namespace

void releaseFolderListing(FolderListing* listing) {
    if (!listing) return;
    waitFolderListing(listing);
    if (listing->thread) {
        // Still running after the bounded wait: the thread frees the record when it ends.
        CloseHandle(listing->thread);
        if (InterlockedExchange(&listing->finished, kGivenUp) != kThreadDone) return;
    }
    freeListing(listing);
}

FolderListing* replaceFolderListing(FolderListing* previous, const wchar_t* path, HWND explorerWindow) {
    releaseFolderListing(previous);
    return createFolderListing(path, explorerWindow, nullptr);
}

FolderListing* replaceFolderListingFromBrowser(FolderListing* previous, const wchar_t* path, HWND explorerWindow,
                                              IStream* browser) {
    releaseFolderListing(previous);
    return createFolderListing(path, explorerWindow, browser);
}

bool waitFolderListing(FolderListing* listing) {
    if (listing->thread) {
        if (WaitForSingleObject(listing->thread, kListingWaitMs) != WAIT_OBJECT_0) return false;
        CloseHandle(listing->thread);
        listing->thread = nullptr;
    }
    return listing->state == kListingReady;
}

void markListingShown(FolderListing* listing) {
    listing->shownIndex = listing->currentIndex;
}

const wchar_t* listedPath(const FolderListing* listing, int32_t index) {
    return static_cast<const wchar_t*>(listing->names.data) + nameStarts(listing)[index];
}

const wchar_t* stepToLoadableFile(FolderListing* listing, bool forwards) {
    for (;;) {
        int32_t index = listing->currentIndex;
        if (forwards) index = index + 1 == listing->itemCount ? 0 : index + 1;
        else index = (index == 0 ? listing->itemCount : index) - 1;
        listing->currentIndex = index;
        if (index == listing->shownIndex) return nullptr;
        const wchar_t* path = listedPath(listing, index);
        if (path[0] && isLoadableStl(path)) return path;
    }
}
