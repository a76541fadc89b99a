#include "gui/shell/registry.h"

#include <cstring>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "gui/display/datawin.h"
#include "gui/shell/control.h"
#include "gui/shell/state.h"

int find_group(const char* name) {
    int n = fl_get_browser_maxline(control->groups);
    for (int i = 1; i <= n; i++) {
        const char* l = fl_get_browser_line(control->groups, i);
        if (l && std::strcmp(l, name) == 0) return i - 1;
    }
    return -1;
}

List* add_group(const char* name) {
    List* g = new List();
    dataList->addObject(g);
    fl_add_browser_line(control->groups, name);
    return g;
}

void forget_data_in_views(MRCData* d) {
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        if (indexOf(v->data(), d) >= 0) {
            v->deleteData(d);
            if (count(v->data()) == 0) v->setData(nullptr);
            v->redraw();
        }
    }
}

namespace {
std::vector<DataGoneHook>& goneHooks() {
    static std::vector<DataGoneHook> h;
    return h;
}
}  // namespace

void add_data_gone_hook(DataGoneHook h) {
    if (h) goneHooks().push_back(h);
}

namespace {
std::vector<BoxesChangedHook>& boxHooks() {
    static std::vector<BoxesChangedHook> h;
    return h;
}
}  // namespace

void add_boxes_changed_hook(BoxesChangedHook h) {
    if (h) boxHooks().push_back(h);
}

void boxes_changed(MRCData* d) {
    if (!d) return;
    for (BoxesChangedHook h : boxHooks()) h(d);
}

void destroy_data(MRCData* d) {
    if (!d) return;
    forget_data_in_views(d);
    for (DataGoneHook h : goneHooks()) h(d);
    delete d;
}

int replace_data(MRCData* old, MRCData* result) {
    for (int i = 0; i < count(dataList); i++) {
        List* g = (List*)dataList->objectAt(i);
        if (indexOf(g, old) < 0) continue;
        g->replaceObject(old, result);
        for (int k = 0; k < count(viewList); k++) {
            DataWin* v = (DataWin*)viewList->objectAt(k);
            if (indexOf(v->data(), old) < 0) continue;
            v->data()->replaceObject(old, result);
            v->redraw();
        }
        destroy_data(old);
        return 1;
    }
    return 0;
}

void refresh_after_change() {
    v_Scalehist(nullptr, 0);
    if (DataWin* v = current_view()) v->redraw();
}

void refresh_after_add() {
    // The image list is rebuilt from the group: keep the selected lines.
    int n = fl_get_browser_maxline(control->images);
    std::vector<int> sel;
    for (int i = 1; i <= n; i++)
        if (fl_isselected_browser_line(control->images, i)) sel.push_back(i);
    update_data_list();
    for (int i : sel) fl_select_browser_line(control->images, i);
    sel_Image(nullptr, 0);
}
