// Compiled against one layer's library with a header of another layer: the
// layering tests expect a header from above to be missing and one from
// below to be found.
#include PROBE_HEADER

int main() { return 0; }
