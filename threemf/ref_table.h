// Objects and property groups by their model part and id: an open-addressed
// table of indices into the caller's array, in the scratch heap.
#pragma once
#include <cstdint>
#include "core/memory.h"
#include "core/status.h"

struct ObjectRef {
    uint32_t part;  // index of the model part the id belongs to
    uint32_t id;
};

constexpr uint32_t kNotFound = 0xFFFFFFFF;

struct RefTable {
    uint32_t* slots;  // index + 1, 0 when free
    uint32_t capacity;  // a power of two
    uint32_t count;
};

// The index stored for ref, or kNotFound. keyOf gives the ref of an index.
template <typename KeyOf>
uint32_t findRef(const RefTable* table, ObjectRef ref, KeyOf keyOf);
// Adds index under keyOf(index); the index already there for that ref
// (nothing added), kNotFound when it was added, or kNotFound - 1 when memory failed.
template <typename KeyOf>
uint32_t insertRef(RefTable* table, uint32_t index, KeyOf keyOf, HeapHandle heap, const MessageSink* sink);

inline uint32_t hashRef(ObjectRef ref) {
    uint64_t key = (uint64_t{ref.part} << 32 | ref.id) * 0x9E3779B97F4A7C15u;
    return static_cast<uint32_t>(key >> 32);
}

template <typename KeyOf>
uint32_t findRef(const RefTable* table, ObjectRef ref, KeyOf keyOf) {
    if (!table->capacity) return kNotFound;
    uint32_t mask = table->capacity - 1;
    for (uint32_t slot = hashRef(ref) & mask;; slot = (slot + 1) & mask) {
        uint32_t stored = table->slots[slot];
        if (!stored) return kNotFound;
        ObjectRef key = keyOf(stored - 1);
        if (key.part == ref.part && key.id == ref.id) return stored - 1;
    }
}

template <typename KeyOf>
bool growRefTable(RefTable* table, KeyOf keyOf, HeapHandle heap, const MessageSink* sink) {
    uint32_t capacity = table->capacity ? table->capacity * 2 : 64;
    uint32_t* slots = static_cast<uint32_t*>(allocArray(heap, capacity, sizeof(uint32_t), sink));
    if (!slots) return false;
    for (uint32_t i = 0; i < capacity; ++i) slots[i] = 0;
    for (uint32_t i = 0; i < table->capacity; ++i) {
        uint32_t stored = table->slots[i];
        if (!stored) continue;
        uint32_t slot = hashRef(keyOf(stored - 1)) & (capacity - 1);
        while (slots[slot]) slot = (slot + 1) & (capacity - 1);
        slots[slot] = stored;
    }
    heapFree(heap, table->slots);
    table->slots = slots;
    table->capacity = capacity;
    return true;
}

template <typename KeyOf>
uint32_t insertRef(RefTable* table, uint32_t index, KeyOf keyOf, HeapHandle heap, const MessageSink* sink) {
    ObjectRef ref = keyOf(index);
    uint32_t existing = findRef(table, ref, keyOf);
    if (existing != kNotFound) return existing;
    if ((table->count + 1) * 2 > table->capacity && !growRefTable(table, keyOf, heap, sink)) return kNotFound - 1;
    uint32_t mask = table->capacity - 1;
    uint32_t slot = hashRef(ref) & mask;
    while (table->slots[slot]) slot = (slot + 1) & mask;
    table->slots[slot] = index + 1;
    ++table->count;
    return kNotFound;
}
