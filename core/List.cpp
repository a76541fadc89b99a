#include "core/List.h"

#include <cstdlib>
#include <cstring>

List::List() : items(static_cast<void**>(std::malloc(8 * sizeof(void*)))), n(0), cap(8) {}

List::~List() { std::free(items); }

void* List::objectAt(int i) const {
    if (i < 0 || i >= n) return nullptr;
    return items[i];
}

int List::indexOf(void* p) const {
    for (int i = 0; i < n; i++)
        if (items[i] == p) return i;
    return -1;
}

// Doubles as soon as the list fills, so there is always one free slot.
void List::grow() {
    if (n < cap) return;
    cap *= 2;
    items = static_cast<void**>(std::realloc(items, cap * sizeof(void*)));
}

void List::addObject(void* p) {
    items[n++] = p;
    grow();
}

void List::insertObjectAt(void* p, int i) {
    if (i < 0) i = 0;
    if (i > n) i = n;
    std::memmove(items + i + 1, items + i, (n - i) * sizeof(void*));
    items[i] = p;
    n++;
    grow();
}

void* List::removeObjectAt(int i) {
    if (i < 0 || i >= n) return nullptr;
    void* p = items[i];
    std::memmove(items + i, items + i + 1, (n - i - 1) * sizeof(void*));
    n--;
    return p;
}

void List::removeObject(void* p) { removeObjectAt(indexOf(p)); }

void* List::replaceObjectAt(int i, void* p) {
    if (i < 0 || i >= n) return nullptr;
    void* old = items[i];
    items[i] = p;
    return old;
}

void* List::replaceObject(void* old, void* p) {
    int i = indexOf(old);
    if (i < 0) return nullptr;
    items[i] = p;
    return old;
}
