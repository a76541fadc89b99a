#include "gui/shell/cmd_util.h"

#include <unistd.h>

#include "gui/shell/dialogs.h"

int may_overwrite(const std::string& file, bool series, bool* all) {
    if (access(file.c_str(), F_OK) != 0) return 1;
    if (series && *all) return 1;
    if (!series) return dlg_choice("The file", file.c_str(), "exists. Overwrite?", 3, "Yes", "No", "Abort", 2) == 1;
    int r = dlg_choice("The file", file.c_str(), "exists. Overwrite?", 3, "Yes", "All", "Abort", 1);
    if (r == 2) *all = true;
    return r == 1 || r == 2;
}
