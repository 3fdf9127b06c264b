// A subsystem layer may include the standard library and the layer below.
#include <cstdio>
#include <string>

#include "base/host.cc"
