// In-place sorting without recursion or allocation, for arrays whose length
// comes from a file.
#pragma once
#include <cstddef>

template <typename T, typename Less>
void siftDown(T* items, size_t start, size_t count, Less less) {
    size_t root = start;
    for (;;) {
        size_t child = 2 * root + 1;
        if (child >= count) return;
        if (child + 1 < count && less(items[child], items[child + 1])) ++child;
        if (!less(items[root], items[child])) return;
        T swapped = items[root];
        items[root] = items[child];
        items[child] = swapped;
        root = child;
    }
}

template <typename T, typename Less>
void heapSort(T* items, size_t count, Less less) {
    for (size_t start = count / 2; start-- > 0;) siftDown(items, start, count, less);
    for (size_t end = count; end > 1;) {
        --end;
        T swapped = items[0];
        items[0] = items[end];
        items[end] = swapped;
        siftDown(items, 0, end, less);
    }
}
