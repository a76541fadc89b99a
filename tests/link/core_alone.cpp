// Linked with every object of the core library: the link fails when a core
// file calls into the workbench, which the batch tool could not carry.
int main() { return 0; }
