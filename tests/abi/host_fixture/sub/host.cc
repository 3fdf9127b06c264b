// A subsystem layer reaching the host directly: refused.
#include <string>
#include <sys/socket.h>
