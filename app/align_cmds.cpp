#include "app/align_cmds.h"

#include "app/menus.h"

void m_Ctf_Rotate_Translate() {
    not_available("CTF", "Rot/Trans");
}
void m_Ctf_CCF(int) {
    not_available("CTF", "correlation");
}
