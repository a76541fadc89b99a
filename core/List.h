// Ordered list of untyped pointers; never owns its entries.
#pragma once

class List {
public:
    List();
    ~List();
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    int count() const { return n; }
    int capacity() const { return cap; }
    void* objectAt(int i) const;
    int indexOf(void* p) const;
    void addObject(void* p);
    void insertObjectAt(void* p, int i);
    void* removeObjectAt(int i);
    void removeObject(void* p);
    void* replaceObjectAt(int i, void* p);
    void* replaceObject(void* old, void* p);
    void empty() { n = 0; }

private:
    void grow();
    void** items;
    int n;
    int cap;
};

// Null-safe forms, since callers hand around possibly-null lists.
inline int count(const List* l) { return l ? l->count() : 0; }
inline void* objectAt(const List* l, int i) { return l ? l->objectAt(i) : nullptr; }
inline int indexOf(const List* l, void* p) { return l ? l->indexOf(p) : -1; }
