#include "gui/shell/box_cmds.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/boxops.h"
#include "core/fileutil.h"
#include "core/picks.h"
#include "gui/display/datawin.h"
#include "gui/shell/autopick_panel.h"
#include "gui/shell/boxing.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/extract_panel.h"
#include "gui/shell/menus.h"
#include "gui/shell/registry.h"

namespace {

// The one data set a command works on; several selected: say so.
MRCData* single(const Selection& s) {
    if (s.count() > 1) dlg_message("Please select a single data set.");
    return s.count() == 1 ? s.at(0) : nullptr;
}

// Box lists changed: the picked box is forgotten, the change is announced,
// the view shows them anew.
void boxesChanged(const std::vector<MRCData*>& changed) {
    forget_picked_box();
    for (MRCData* d : changed) boxes_changed(d);
    if (DataWin* v = current_view()) v->redraw();
}

// Runs an operation with its messages collected; they still reach standard
// output, and the first line is returned for a message box.
template <class F>
std::string messagesOf(F f) {
    std::string text;
    {
        StdoutCapture cap;
        f();
        text = cap.take();
    }
    std::fputs(text.c_str(), stdout);
    return StdoutCapture::firstLine(text);
}

}  // namespace

void m_Box_read_boxdb() {
    std::string path;
    if (!dlg_file_single(&path)) return;
    BusyScope busy;
    Selection s;
    if (MRCData* d = single(s)) {
        d->loadBoxDB(path.c_str());
        boxesChanged({d});
    }
}

void m_Box_save_boxdb() {
    std::string path;
    if (!dlg_file_single(&path)) return;
    std::string why;
    {
        BusyScope busy;
        Selection s;
        MRCData* d = single(s);
        if (!d) return;
        int ok = 1;
        why = messagesOf([&] { ok = d->saveBoxDB(path.c_str()); });
        if (ok) return;
    }
    dlg_message(why.c_str());
}

void m_Box_rebox() {
    Selection s;
    MRCData* d = single(s);
    if (!d || d->nBoxes() == 0) return;
    BusyScope busy;
    std::vector<BoxRecord> boxes(d->Boxes(), d->Boxes() + d->nBoxes());
    d->clearBoxes();
    for (const BoxRecord& b : boxes) {
        MRCData* c = b.type != 0 ? view_FilaClip(d, b.x, b.y, b.xsize, b.ysize, b.type, 0)
                                 : view_Clipped(d, b.x, b.y, b.x + b.xsize - 1, b.y + b.ysize - 1);
        // A box that cannot be cut again stays in the list as it was.
        if (!c) d->addBox(b.x, b.y, b.xsize, b.ysize, b.name, b.type);
    }
    boxesChanged({d});
}

void m_Box_align_new() {
    Selection s;
    if (MRCData* d = single(s)) {
        alignAllToNew(d);
        boxesChanged({d});
    }
}

void m_Box_perm_new() {
    Selection s;
    if (MRCData* d = single(s)) {
        makeMovedPermanent(d);
        boxesChanged({d});
    }
}

void m_Box_clear_boxdb() {
    Selection s;
    if (s.count() < 1) return;
    s.at(0)->clearBoxes();
    boxesChanged({s.at(0)});
}

void m_Box_aligndb() {
    Selection s;
    if (s.count() < 2) {
        dlg_message("Please select at least 2 data sets.");
        return;
    }
    std::vector<MRCData*> others;
    for (int i = 1; i < s.count(); i++) others.push_back(s.at(i));
    int r;
    {
        BusyScope busy;
        r = copyBoxesWithAlign(s.at(0), others);
    }
    if (r < 0) dlg_message("The first image must be at least 560x560\n");
    boxesChanged(others);
}

void m_Box_coinc() {
    Selection s;
    if (s.count() != 2) {
        dlg_message("Please select 2 data sets to test");
        return;
    }
    {
        BusyScope busy;
        if (MRCData* r = s.at(0)->simfilt(s.at(1))) current_group()->addObject(r);
    }
    refresh_after_add();
}

void m_Box_export_picks() {
    Selection s;
    MRCData* d = single(s);
    std::string path;
    if (!d || !dlg_file_single(&path) || !may_overwrite(path, false, nullptr)) return;
    int n = -1, left = 0;
    std::string why = messagesOf([&] { n = exportPicks(d, path.c_str(), &left); });
    if (n < 0) {
        dlg_message(why.c_str());
        return;
    }
    std::printf("%d picks written to %s\n", n, path.c_str());
    if (left > 0) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%d filament box%s left out:", left, left == 1 ? " was" : "es were");
        dlg_message(buf, "pick files hold rectangular boxes only.");
    }
}

void m_Box_import_picks() {
    Selection s;
    MRCData* d = single(s);
    std::string path;
    if (!d || !dlg_file_single(&path)) return;
    int n = -1;
    // Centres of a .star file get the box size of the mouse panel.
    std::string why = messagesOf([&] { n = importPicks(d, path.c_str(), MMode.boxX, MMode.boxY); });
    if (n < 0) {
        dlg_message(why.c_str());
        return;
    }
    std::printf("%d boxes for this image\n", d->nBoxes());
    boxesChanged({d});
}

const MenuTable& box_menu() {
    static const MenuTable t = {
        {"Read Box DB", m_Box_read_boxdb,
         "Reads a box database file.\n\nThe file format should be compatible with ICE/boxmrc. Currently doing this "
         "will just result in boxes being displayed on the image. It will not cause the image to be reboxed."},
        {"Save Box DB", m_Box_save_boxdb,
         "Saves a list of boxed regions in the current image.\n\nThis file should be compatible with ice and boxmrc. "
         "Note that the filenames for the boxed images used in this file are the default filenames when you save the "
         "clips to MRC files."},
        {"Rebox Using DB", m_Box_rebox, "Generates a new set of clip images using the current box database."},
        {"Align All to New", m_Box_align_new,
         "Uses the position of the moved (blue) boxes to generate new positions for all of the other boxes. Several "
         "boxes should be adjusted first in 'DB' mouse mode."},
        {"New Permanent", m_Box_perm_new, "Turns all moved (blue) boxes back into normal (red) boxes."},
        {"Clear Box DB", m_Box_clear_boxdb,
         "This clears the box database for the current image.\n\nThis removes the boxes that are displayed showing "
         "regions of the image that have been boxed."},
        {"Copy Boxes With Align.", m_Box_aligndb,
         "Takes the box database from the first selected image and copies it to the other selected image(s). Each "
         "box in the new image will be CCF aligned to the box in the old image."},
        {"Coincidence", m_Box_coinc, "Experimental use only. Please do not use.\n"},
        {"Export Picks", m_Box_export_picks,
         "Writes the boxes of the selected image as a pick file for other programs.\n\nA name ending in .star gives "
         "a RELION coordinate file (box centres), one ending in .box an EMAN2 box file (lower-left corner and size). "
         "Filament boxes are left out."},
        {"Import Picks", m_Box_import_picks,
         "Reads a RELION .star coordinate file or an EMAN2 .box file into the boxes of the selected image.\n\nThe "
         "centres of a .star file get the box size set in the mouse panel."},
        {"Auto Pick...", m_Box_autopick,
         "Opens the automatic picker for the selected micrograph: blob mode finds dark (or bright) blobs of the "
         "particle diameter, template mode matches a template.\n\nIts boxes are red boxes of the mouse panel's "
         "size, named \"autopick\"; picking again replaces them and keeps the boxes cut by hand."},
        {"Extract Particles...", m_Box_extract,
         "Cuts the boxes of the selected image into a particle stack for refinement.\n\nA panel asks for the box "
         "size, binning, normalisation, contrast inversion and phase flip; the file selector for the folder. The "
         "stack NAME.mrcs and a RELION particles.star are written there, and the stack opens as a mosaic."},
    };
    return t;
}
