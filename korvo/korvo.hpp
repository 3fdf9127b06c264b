// korvo: the C++ interface of the endpoint library, header-only, over the
// C interface (<korvo/korvo.h>, which it includes):
//   korvo/cxx/error.hpp       korvo::Error and the korvo exception types,
//                             korvo::call, korvo::StatusError
//   korvo/cxx/properties.hpp  korvo::PropertyList, PropertiesView, ListView
//   korvo/cxx/toc.hpp         korvo::Toc
//   korvo/cxx/stream.hpp      korvo::StreamKey, korvo::Stream, korvo::Chunk
//   korvo/cxx/progress.hpp    korvo::Progress
//   korvo/cxx/depot.hpp       korvo::Depot, korvo::DepotEntry, korvo::File
// docs/cxx.md shows a whole method. Every owner is move-only and releases
// what it owns with the C interface's matching function; each header says
// who owns what and which threads may use it.
#pragma once

#include "korvo/korvo.h"

#include "korvo/cxx/depot.hpp"
#include "korvo/cxx/error.hpp"
#include "korvo/cxx/progress.hpp"
#include "korvo/cxx/properties.hpp"
#include "korvo/cxx/stream.hpp"
#include "korvo/cxx/toc.hpp"

namespace korvo {

/// Registers the library's types with the runtime (korvo_init); call once
/// before anything else, from any thread. std::runtime_error when it fails.
inline void init() {
    if (korvo_init() != 1)
        throw std::runtime_error("korvo::init: the type repository could not be registered");
}

}  // namespace korvo
