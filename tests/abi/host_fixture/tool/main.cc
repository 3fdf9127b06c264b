// A program folder keeps to its own lists: the host header is refused, and
// so is a header reached through '..'.
#include <cstdio>
#include <unistd.h>

#include "../base/host.cc"
