#include <gtest/gtest.h>

#include "core/List.h"

TEST(List, GrowsAndKeepsOrder) {
    List l;
    int v[20];
    for (int i = 0; i < 20; i++) l.addObject(&v[i]);
    for (int i = 0; i < 20; i++) EXPECT_EQ(l.objectAt(i), &v[i]);
    EXPECT_EQ(l.objectAt(20), nullptr);
    EXPECT_EQ(l.objectAt(-1), nullptr);
}

TEST(List, InsertClampsIndex) {
    List l;
    int a, b, c, d, e;
    l.addObject(&a);
    l.addObject(&b);
    l.addObject(&c);
    l.insertObjectAt(&d, 100);
    EXPECT_EQ(l.indexOf(&d), 3);
    l.insertObjectAt(&e, -5);
    EXPECT_EQ(l.indexOf(&e), 0);
    EXPECT_EQ(l.count(), 5);
    EXPECT_EQ(l.objectAt(1), &a);
}

TEST(List, RemoveAndReplace) {
    List l;
    int a, b, c;
    l.addObject(&a);
    l.addObject(&b);
    l.addObject(&a);
    l.removeObject(&a);  // first occurrence only
    ASSERT_EQ(l.count(), 2);
    EXPECT_EQ(l.objectAt(0), &b);
    EXPECT_EQ(l.objectAt(1), &a);
    EXPECT_EQ(l.removeObjectAt(5), nullptr);
    EXPECT_EQ(l.count(), 2);
    EXPECT_EQ(l.replaceObjectAt(0, &c), &b);
    EXPECT_EQ(l.replaceObjectAt(2, &c), nullptr);
    EXPECT_EQ(l.replaceObject(&a, &b), &a);
    EXPECT_EQ(l.replaceObject(&a, &b), nullptr);
    EXPECT_EQ(l.indexOf(&a), -1);
    EXPECT_EQ(l.removeObjectAt(0), &c);
    EXPECT_EQ(l.count(), 1);
}

TEST(List, EmptyKeepsStorageAndNullListsAreSafe) {
    List l;
    int v[10];
    for (int i = 0; i < 10; i++) l.addObject(&v[i]);
    l.empty();
    EXPECT_EQ(l.count(), 0);
    l.addObject(&v[3]);
    EXPECT_EQ(l.objectAt(0), &v[3]);
    const List* none = nullptr;
    EXPECT_EQ(count(none), 0);
    EXPECT_EQ(objectAt(none, 0), nullptr);
    EXPECT_EQ(indexOf(none, &v[0]), -1);
}
