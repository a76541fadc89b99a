#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/hooks.h"
#include "wav/global.h"

namespace {
int ons = 0, offs = 0;
std::vector<std::string> texts;
}  // namespace

TEST(Hooks, BusyNestsAndReachesTheInstalledHooks) {
    UiHooks h;
    h.busy_on = [] { ons++; };
    h.busy_off = [] { offs++; };
    h.progress = [](int cur, int max, const char* t) {
        texts.push_back(std::to_string(cur) + "/" + std::to_string(max) + (t ? t : ""));
    };
    UiHooks old = set_ui_hooks(h);
    busy(1);
    busy(1);
    busy(0);
    EXPECT_EQ(busy_depth(), 1);
    EXPECT_EQ(ons, 1);
    EXPECT_EQ(offs, 0);  // still busy after one of two
    busy(0);
    EXPECT_EQ(offs, 1);
    busy(0);  // unbalanced: stays at 0
    EXPECT_EQ(busy_depth(), 0);
    EXPECT_EQ(offs, 1);
    do_progress(5, 10, "Reading");
    do_progress(-1, 0, nullptr);
    EXPECT_EQ(texts, (std::vector<std::string>{"5/10Reading", "-1/0"}));
    set_ui_hooks(old);
}

TEST(Hooks, Warning) {
    testing::internal::CaptureStdout();
    warning("level %d too deep", 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: level 7 too deep\n");
}
