// What the CDS files share inside the library: the process's session (the
// loaded client and the download wait), the loader's internal steps, and
// the entry the CDS stream uses to load the client on open.
#pragma once

#include <cstdint>

#include "cds/cds_session.hpp"

namespace korvo::cds {

// The process's session; its table is filled by the one-time initialisation.
Session &process_session();

// Runs the one-time initialisation (as cds_init) and tells whether the
// client is loaded.
bool client_ready();

}  // namespace korvo::cds

extern "C" {
// Loads the client and fills the process session's table: 0, or -1 when no
// client with all five entry points could be found.
int cds_load(void);
// The directory the registry file and the client's cds.cfg point at, as a
// runtime block the caller owns; NULL (with a log line) when they do not.
char *cds_get_lib_dir(void);
// The completion callback handed to the client.
void cds_status_callback(uint32_t handle, int32_t status);
}
