// A middle click pastes the X selection into the input under the pointer.
// When no other client holds the selection, the toolkit pastes cut buffer 0
// and hands what it read to the input without looking: with no cut buffer on
// the server (a fresh server, or one whose buffer was removed or holds
// another type) that is a null string, and the input dereferences it. The
// workbench reads the cut buffer for the toolkit instead: a missing buffer
// reads as an empty text, so such a paste inserts nothing.
#pragma once

// True when the toolkit's reads of the cut buffer go through the workbench's
// reader (the program and the GUI tests check it at start-up).
bool paste_guard_active();
