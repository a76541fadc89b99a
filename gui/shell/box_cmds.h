// The Box menu: the box database of a data set, reboxing, moving the whole
// box set after a few boxes were dragged, copying boxes with alignment.
#pragma once

void m_Box_read_boxdb();
void m_Box_save_boxdb();
void m_Box_rebox();
void m_Box_align_new();
void m_Box_perm_new();
void m_Box_clear_boxdb();
void m_Box_aligndb();
void m_Box_coinc();
// Pick files for other programs: RELION .star and EMAN2 .box.
void m_Box_export_picks();
void m_Box_import_picks();
