// Preference store: name/value text pairs kept in ~/.tvenv.
#pragma once

// Path of the preference file ($HOME/.tvenv).
const char* envfile_path();

// Loads ~/.tvenv (once at start-up); prints "No environment file\n" when absent.
void openenv2();
// Writes every entry as "%s\t%s\n" through a temporary file; 1 on success.
int saveenv2();
// Drops every entry (tests, and re-reading the file).
void clearenv2();
int envcount();
const char* envname(int i);
const char* envval(int i);

void setenv2(const char* name, const char* text);
void setenvi(const char* name, int v);
void setenvf(const char* name, float v);

const char* getenv2(const char* name);
const char* getenv2d(const char* name, const char* def);
int getenvi(const char* name);
int getenvid(const char* name, int def);
float getenvf(const char* name);
float getenvfd(const char* name, float def);

// Writes n lines "%g\t%g\n"; 1 on success, 0 when the file cannot be written.
int save_data(const float* x, const float* y, int n, const char* file);
