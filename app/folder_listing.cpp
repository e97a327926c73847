#include "app/folder_listing.h"

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "core/memory.h"
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

void freeItems(LPITEMIDLIST* items, int32_t count) {
    for (int32_t k = 0; k < count; ++k) CoTaskMemFree(items[k]);
    freeBytes(items);
}

bool collectItems(IEnumIDList* enumerator, LPITEMIDLIST** items, int32_t* count) {
    LPITEMIDLIST* array = nullptr;
    int32_t total = 0;
    for (;;) {
        uint64_t room = uint64_t{static_cast<uint32_t>(total)} + kBatchItems;
        void* grown = nullptr;
        if (room <= INT32_MAX)
            grown = array ? reallocArray(processHeap(), array, room, sizeof *array, nullptr)
                          : allocArray(processHeap(), room, sizeof *array, nullptr);
        if (grown) array = static_cast<LPITEMIDLIST*>(grown);
        ULONG fetched = 0;
        if (!grown || FAILED(enumerator->Next(kBatchItems, array + total, &fetched))) {
            freeItems(array, total);
            return false;
        }
        if (fetched == 0) break;
        total += static_cast<int32_t>(fetched);
    }
    *items = array;
    *count = total;
    return true;
}

bool collectViewItems(IFolderView* view, UINT which, LPITEMIDLIST** items, int32_t* count) {
    IEnumIDList* enumerator = nullptr;
    bool collected = SUCCEEDED(view->Items(which, IID_IEnumIDList, reinterpret_cast<void**>(&enumerator))) &&
                     enumerator && collectItems(enumerator, items, count);
    releaseInterface(enumerator);
    return collected;
}

bool displayName(IShellFolder* folder, LPCITEMIDLIST item, SHGDNF flags, wchar_t name[kItemNameUnits]) {
    STRRET text;
    return SUCCEEDED(folder->GetDisplayNameOf(item, flags, &text)) &&
           SUCCEEDED(StrRetToBufW(&text, item, name, kItemNameUnits));
}

// Unit by unit: a path that differs only in letter case is another name.
bool isNamed(IShellFolder* folder, LPCITEMIDLIST item, const wchar_t* path) {
    wchar_t name[kItemNameUnits];
    if (!displayName(folder, item, SHGDN_FORPARSING, name)) return false;
    int at = 0;
    while (name[at] && name[at] == path[at]) ++at;
    return name[at] == path[at];
}

void releaseListingContents(FolderListing* listing) {
    releaseInterface(listing->folderView);
    releaseInterface(listing->shellFolder);
    freeItems(listing->items, listing->itemCount);
    listing->folderView = nullptr;
    listing->shellFolder = nullptr;
    listing->items = nullptr;
    listing->itemCount = 0;
}

void keepContents(FolderListing* listing, IFolderView* view, IShellFolder* folder, LPITEMIDLIST* items,
                  int32_t count) {
    listing->folderView = view;
    listing->shellFolder = folder;
    listing->items = items;
    listing->itemCount = count;
}

// The Explorer path: only reachable on Windows, kept to the calls it needs.
bool readExplorerView(FolderListing* listing, IDispatch* window) {
    IServiceProvider* provider = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* shellView = nullptr;
    IFolderView* view = nullptr;
    IShellFolder* folder = nullptr;
    LPITEMIDLIST* items = nullptr;
    int32_t count = 0;
    bool read = SUCCEEDED(window->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider))) &&
                SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                                 reinterpret_cast<void**>(&browser))) &&
                SUCCEEDED(browser->QueryActiveShellView(&shellView)) &&
                SUCCEEDED(shellView->QueryInterface(IID_IFolderView, reinterpret_cast<void**>(&view))) &&
                SUCCEEDED(view->GetFolder(IID_IShellFolder, reinterpret_cast<void**>(&folder))) &&
                collectViewItems(view, kViewOrderItems, &items, &count);
    releaseInterface(shellView);
    releaseInterface(browser);
    releaseInterface(provider);
    if (read) {
        keepContents(listing, view, folder, items, count);
    } else {
        releaseInterface(folder);
        releaseInterface(view);
    }
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

bool listExplorerView(FolderListing* listing) {
    IShellWindows* windows = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_ALL, IID_IShellWindows,
                                reinterpret_cast<void**>(&windows))))
        return false;
    bool read = false;
    VARIANT at;
    VariantInit(&at);
    at.vt = VT_I4;
    if (listing->explorerWindow == GetShellWindow()) {
        at.lVal = CSIDL_DESKTOP;
        VARIANT root;
        VariantInit(&root);
        long handle = 0;
        IDispatch* desktop = nullptr;
        if (windows->FindWindowSW(&at, &root, SWC_DESKTOP, &handle, SWFO_NEEDDISPATCH, &desktop) == S_OK && desktop)
            read = readExplorerView(listing, desktop);
        releaseInterface(desktop);
    } else {
        for (at.lVal = 0; !read; ++at.lVal) {
            IDispatch* item = nullptr;
            if (windows->Item(at, &item) != S_OK) break;
            read = item && isWindowOf(item, listing->explorerWindow) && readExplorerView(listing, item);
            releaseInterface(item);
        }
    }
    releaseInterface(windows);
    return read;
}

bool enumerateFolder(FolderListing* listing) {
    wchar_t* afterSeparator = listing->path;
    for (wchar_t* at = listing->path; *at; ++at)
        if (*at == L'\\' || *at == L'/') afterSeparator = at + 1;
    wchar_t cut = *afterSeparator;
    *afterSeparator = 0;
    LPITEMIDLIST folderId = ILCreateFromPathW(listing->path);
    *afterSeparator = cut;
    IShellFolder* desktop = nullptr;
    IShellFolder* folder = nullptr;
    IEnumIDList* enumerator = nullptr;
    LPITEMIDLIST* items = nullptr;
    int32_t count = 0;
    bool listed = folderId && SUCCEEDED(SHGetDesktopFolder(&desktop)) &&
                  SUCCEEDED(desktop->BindToObject(folderId, nullptr, IID_IShellFolder,
                                                  reinterpret_cast<void**>(&folder))) &&
                  folder->EnumObjects(nullptr, kEnumerationFlags, &enumerator) == S_OK &&
                  collectItems(enumerator, &items, &count);
    releaseInterface(enumerator);
    releaseInterface(desktop);
    ILFree(folderId);
    if (listed) keepContents(listing, nullptr, folder, items, count);
    else releaseInterface(folder);
    return listed;
}

struct NamedItem {
    const wchar_t* name;
    LPITEMIDLIST item;
};

// Stable, so items with equal names keep the enumeration order. Merges back
// and forth between the two arrays; returns the one that holds the result.
NamedItem* mergeSortByName(NamedItem* entries, NamedItem* scratch, int64_t count) {
    for (int64_t width = 1; width < count; width *= 2) {
        for (int64_t left = 0; left < count; left += 2 * width) {
            int64_t middle = left + width < count ? left + width : count;
            int64_t right = left + 2 * width < count ? left + 2 * width : count;
            int64_t a = left, b = middle, out = left;
            while (a < middle && b < right)
                scratch[out++] = StrCmpLogicalW(entries[b].name, entries[a].name) < 0 ? entries[b++] : entries[a++];
            while (a < middle) scratch[out++] = entries[a++];
            while (b < right) scratch[out++] = entries[b++];
        }
        NamedItem* merged = scratch;
        scratch = entries;
        entries = merged;
    }
    return entries;
}

// Explorer's default order of names ("part2" before "part10"). The shell's
// own enumeration order is the directory's raw order on some systems, which
// no user sees. Without memory the enumeration order stays.
void sortItemsByName(FolderListing* listing) {
    int32_t count = listing->itemCount;
    if (count < 2) return;
    uint64_t units = static_cast<uint64_t>(count) * kItemNameUnits;
    NamedItem* entries = static_cast<NamedItem*>(
        allocArray(processHeap(), static_cast<uint64_t>(count) * 2, sizeof(NamedItem), nullptr));
    wchar_t* names = static_cast<wchar_t*>(allocArray(processHeap(), units, sizeof(wchar_t), nullptr));
    if (entries && names) {
        for (int32_t k = 0; k < count; ++k) {
            wchar_t* name = names + static_cast<size_t>(k) * kItemNameUnits;
            if (!displayName(listing->shellFolder, listing->items[k], SHGDN_INFOLDER | SHGDN_FORPARSING, name))
                name[0] = 0;
            entries[k] = NamedItem{name, listing->items[k]};
        }
        const NamedItem* sorted = mergeSortByName(entries, entries + count, count);
        for (int32_t k = 0; k < count; ++k) listing->items[k] = sorted[k].item;
    }
    freeBytes(names);
    freeBytes(entries);
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

// A view may show two items of the same name (search results, libraries):
// the selection tells which of them was opened.
bool locateInSelection(FolderListing* listing) {
    LPITEMIDLIST* selected = nullptr;
    int32_t selectedCount = 0;
    if (!collectViewItems(listing->folderView, SVGIO_SELECTION, &selected, &selectedCount)) return false;
    bool found = false;
    for (int32_t s = 0; s < selectedCount && !found; ++s) {
        if (!isNamed(listing->shellFolder, selected[s], listing->path)) continue;
        for (int32_t k = 0; k < listing->itemCount && !found; ++k)
            if (sameItemList(selected[s], listing->items[k])) {
                pointAt(listing, k);
                found = true;
            }
    }
    freeItems(selected, selectedCount);
    return found;
}

bool locateOpenedFile(FolderListing* listing) {
    if (listing->itemCount == 0) return false;
    if (listing->folderView && locateInSelection(listing)) return true;
    for (int32_t k = 0; k < listing->itemCount; ++k)
        if (isNamed(listing->shellFolder, listing->items[k], listing->path)) {
            pointAt(listing, k);
            return true;
        }
    return false;
}

bool locateOrRelease(FolderListing* listing) {
    if (locateOpenedFile(listing)) return true;
    releaseListingContents(listing);
    return false;
}

bool listInViewOrder(FolderListing* listing) {
    return listing->explorerWindow && listExplorerView(listing) && locateOrRelease(listing);
}

bool listByName(FolderListing* listing) {
    if (!enumerateFolder(listing)) return false;
    sortItemsByName(listing);
    return locateOrRelease(listing);
}

// A foreground Explorer window showing another folder than the file's does
// not cost the listing: the folder is then enumerated.
DWORD WINAPI runFolderListing(void* parameter) {
    FolderListing* listing = static_cast<FolderListing*>(parameter);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 0;
    listing->state = listInViewOrder(listing) || listByName(listing) ? kListingReady : kListingFailed;
    CoUninitialize();
    return 0;
}

wchar_t* copyPath(const wchar_t* path) {
    size_t units = static_cast<size_t>(lstrlenW(path)) + 1;
    wchar_t* copy = static_cast<wchar_t*>(allocArray(processHeap(), units, sizeof(wchar_t), nullptr));
    if (copy) memcpy(copy, path, units * sizeof(wchar_t));
    return copy;
}

FolderListing* createFolderListing(const wchar_t* path, HWND explorerWindow) {
    auto* listing = static_cast<FolderListing*>(allocArray(processHeap(), 1, sizeof(FolderListing), nullptr));
    if (!listing) return nullptr;
    *listing = FolderListing{nullptr, kListingRunning, nullptr, nullptr, nullptr, 0, 0, 0, copyPath(path),
                             explorerWindow};
    if (listing->path) listing->thread = CreateThread(nullptr, 0, runFolderListing, listing, 0, nullptr);
    if (listing->thread) return listing;
    freeBytes(listing->path);
    freeBytes(listing);
    return nullptr;
}

void releaseFolderListing(FolderListing* listing) {
    if (!listing) return;
    bool ready = waitFolderListing(listing);
    if (listing->thread) {
        // Still running after the bounded wait: the thread keeps its block for good.
        CloseHandle(listing->thread);
        return;
    }
    if (ready) releaseListingContents(listing);
    freeBytes(listing);
}

}  // namespace

FolderListing* replaceFolderListing(FolderListing* previous, const Utf16* path, HWND explorerWindow) {
    releaseFolderListing(previous);
    return createFolderListing(path, explorerWindow);
}

bool waitFolderListing(FolderListing* listing) {
    if (listing->thread) {
        if (WaitForSingleObject(listing->thread, kListingWaitMs) != WAIT_OBJECT_0) return false;
        CloseHandle(listing->thread);
        listing->thread = nullptr;
        freeBytes(listing->path);
        listing->path = nullptr;
    }
    return listing->state == kListingReady;
}

void markListingShown(FolderListing* listing) {
    listing->shownIndex = listing->currentIndex;
}

bool stepToLoadableFile(FolderListing* listing, bool forwards, wchar_t path[kItemNameUnits]) {
    for (;;) {
        int32_t index = listing->currentIndex;
        if (forwards) index = index + 1 == listing->itemCount ? 0 : index + 1;
        else index = (index == 0 ? listing->itemCount : index) - 1;
        listing->currentIndex = index;
        if (index == listing->shownIndex) return false;
        if (!displayName(listing->shellFolder, listing->items[index], SHGDN_FORPARSING, path)) return false;
        if (isLoadableStl(path)) return true;
    }
}
