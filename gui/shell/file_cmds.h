// The File menu: opening files into groups, saving the selected data sets,
// printing and quitting.
#pragma once

#include <forms.h>

#include <string>

void m_File_open(int kind);
void m_File_open_im();
void m_File_open_pif();
void m_File_open_list();
void m_File_save_mrc(int isShort);
void m_File_save_mrcext();
void m_File_save_imagic();
void m_File_save_spider();
void m_File_save_pif();
void m_File_save_pgm();
void m_File_quit();

// Cuts a 3-letter extension: when the character four places from the end is '.'.
std::string strip_ext(const std::string& p);
// The interleave counter of "Read List w Interleave".
int& interleave_counter();
// Quit without leaving the process (tests): what Quit does before exiting.
void m_File_quit_prepare();
// Opens files named on the command line as the File menu would: single images into the current group (the first
// one shown), each stack into a group of its own (the last one shown). A message box for every file that could
// not be opened. Returns the number of data sets read.
int open_startup_files(int n, char** names);
