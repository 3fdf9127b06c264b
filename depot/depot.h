/* The whole depot interface in one include: the handle and hash
 * (depot_store.h), entry objects and records (depot_entry.h), entry
 * operations (depot_ops.h), enumeration and purging (depot_enum.h), space
 * accounting (depot_space.h) and the trace logger (depot_logger.h). */
#ifndef KORVO_DEPOT_DEPOT_H
#define KORVO_DEPOT_DEPOT_H

#include "depot/depot_entry.h"
#include "depot/depot_enum.h"
#include "depot/depot_logger.h"
#include "depot/depot_ops.h"
#include "depot/depot_space.h"
#include "depot/depot_store.h"

#endif
