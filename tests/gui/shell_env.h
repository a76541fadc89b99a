// The workbench started once per test process (tests/gui/shell_main.cpp),
// and helpers that put it back into its start-up state between tests.
#pragma once

// GoogleTest before the toolkit: Xlib defines None.
#include <gtest/gtest.h>
// clang-format off
#include <forms.h>
// clang-format on

#include <string>
#include <vector>

class MRCData;
class List;

// One group "Default" (empty), one view, nothing selected, zoom 1 at (0, 0),
// no help window, scripted dialogs with an empty queue.
void shell_reset();
// A fresh folder for the test (removed by the next call).
std::string shell_tmpdir();
// A real data set of nx x ny with a ramp of values, named and with a file name.
MRCData* make_data(int nx, int ny, const char* name, const char* file = nullptr, float base = 0);
// A complex data set (nx + 2 floats per row).
MRCData* make_complex(int nx, int ny, const char* name);
// Adds data sets to the current group and lists them.
void add_to_group(const std::vector<MRCData*>& ds);
// Selects exactly these 1-based image lines (the last one is the one clicked
// last) and runs the image selection.
void select_images(const std::vector<int>& lines);
// The selected lines of a browser.
std::vector<int> selected_lines(FL_OBJECT* browser);
std::string read_file(const std::string& path);
bool exists(const std::string& path);
void write_mrc(const std::string& path, int nx, int ny, float base = 0);
// Names of the data sets of a group, in order.
std::vector<std::string> group_names(List* g);
// Queues the file selection, then the buttons, and runs the File menu entry.
void file_cmd(const char* item, const std::vector<std::string>& files, const std::vector<int>& buttons = {});
// The dialog log's entries of one kind ("message:", "choice:", ...).
std::vector<std::string> dlg_logged(const std::string& kind);
