// The control panel: menus, histogram, grey limits, zoom, pan, pixel size,
// and the group, image and view lists every command takes its input from.
#pragma once

#include <forms.h>

class List;
class MRCData;
class DataWin;

struct FD_control {
    FL_FORM* control;
    FL_OBJECT *fileMenu, *boxMenu, *toolsMenu, *userMenu, *ctfMenu, *testMenu, *helpMenu;
    FL_OBJECT *histPlot, *invert, *maxHist, *histFile, *scaleHist, *pan;
    FL_OBJECT *maxGray, *minGray, *zoom;
    FL_OBJECT* zoomBtn[5];
    FL_OBJECT *scanres, *mag, *scanpix;  // "Pixel (A)", "Mag (k)", "Scan (um)"
    FL_OBJECT *groups, *groupName, *addGroup, *delGroup;
    FL_OBJECT *images, *all, *none, *numdo, *numCount, *imDel;
    FL_OBJECT *views, *addView, *delView;
};

FD_control* create_form_control();

// ---- what every command works on
DataWin* current_view();
List* current_group();
int current_group_number();  // 1-based
List* get_selected_data();   // new list, caller deletes it (not the data sets)
MRCData* get_1_data();
void update_data_list();
// ---- callbacks
void sel_Image(FL_OBJECT*, long);
int imsel(FL_OBJECT*, int event, FL_Coord, FL_Coord, int, void*);
void sel_All(FL_OBJECT*, long);
void sel_None(FL_OBJECT*, long);
void sel_Numdo(FL_OBJECT*, long);
void sel_Imdel(FL_OBJECT*, long);
void v_histfile(FL_OBJECT*, long);
void sel_Group(FL_OBJECT*, long);
void sel_Addgr(FL_OBJECT*, long);
void sel_Gtext(FL_OBJECT*, long);
void sel_Delgr(FL_OBJECT*, long);
void sel_View(FL_OBJECT*, long);
void sel_Addview(FL_OBJECT*, long);
void sel_Delview(FL_OBJECT*, long);
void resize_callback(DataWin* v);
void v_Mingray(FL_OBJECT*, long);
void v_Maxgray(FL_OBJECT*, long);
void v_Pan(FL_OBJECT*, long);
void v_Zoom(FL_OBJECT*, long arg);
void v_Maxhist(FL_OBJECT*, long);
void v_Scalehist(FL_OBJECT*, long);
void v_Scanpix(FL_OBJECT*, long);
void v_Mag(FL_OBJECT*, long);
void v_Scanres(FL_OBJECT*, long);

// Input fields as numbers: " %f" (0 when it does not parse), shown "%4.2f".
float fl_get_input_float(FL_OBJECT* ob);
void fl_set_input_float(FL_OBJECT* ob, float v);

// Makes a new view bound to the current group; null when it cannot be made.
DataWin* make_view(int x, int y);
