#include "app/box_cmds.h"

#include "app/menus.h"

void m_Box_read_boxdb() {
    not_available("Box", "Read Box DB");
}
void m_Box_save_boxdb() {
    not_available("Box", "Save Box DB");
}
void m_Box_rebox() {
    not_available("Box", "Rebox Using DB");
}
void m_Box_align_new() {
    not_available("Box", "Align All to New");
}
void m_Box_perm_new() {
    not_available("Box", "New Permanent");
}
void m_Box_clear_boxdb() {
    not_available("Box", "Clear Box DB");
}
void m_Box_aligndb() {
    not_available("Box", "Copy Boxes With Align.");
}
void m_Box_coinc() {
    not_available("Box", "Coincidence");
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
    };
    return t;
}
