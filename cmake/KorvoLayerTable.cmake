# The layers of korvo, lowest first, and what each layer's files may include.
# DEVELOPERS.md shows the same table; the test abi.layers fails on any include
# that it does not allow.
#
#   korvo_layer(<layer> FILES <pattern>... [USES <layer>...])
#
# FILES are paths from the source root; '*' stands for any run of characters
# other than '/'. A file belongs to the first layer, in this order, one of
# whose patterns fits it. A row names folders, not file names: the layer of
# a file follows from the folder it lies in. Besides the headers of its own layer, a layer's
# files may include those of the layers named in USES (not transitively), and
# runtime/korvo_export.h, which holds only the export and linkage macros.
#
# runtime and cds_client are shared libraries of their own (korvo_runtime,
# CDSClient); every other layer is an object library korvo_<layer> linked
# into libkorvo.so.

# The runtime services: the stand-ins for the outside libraries.
korvo_layer(runtime FILES runtime/*)

# The Kes layer: the platform (files, directories, locks, paths, lists,
# Base64, tags, atomic file replacement, access lists). Only the OS, the C/C++
# library and libacl.
korvo_layer(kes FILES kes/*)

# The catalog, korvo exceptions and raising them.
korvo_layer(errors FILES properties/errors/* USES runtime)

# The raising file, directory and path-name helpers and the wildcard matcher.
korvo_layer(helpers FILES properties/helpers/* USES errors runtime)

# Property lists, their types, keys, encoding and files. Their folder holds
# the folders of the two layers above, whose headers are installed beside
# its own (cmake/KorvoHeaders.cmake).
korvo_layer(properties FILES properties/* USES helpers errors kes runtime)

# Segments, TOCs, messages, lengths, times and commands.
korvo_layer(records FILES records/* USES properties errors runtime)

# The shared segment store and its trace logger; it never raises.
korvo_layer(depot FILES depot/* USES kes runtime)

# Net streams, file-list streams and progress records. The CDS source is
# reached only through an interface declared here and implemented in cds/.
korvo_layer(stream
  FILES stream/*
  USES depot records properties helpers errors kes runtime)

# The CDS client library, loaded at run time: nothing of ours.
korvo_layer(cds_client FILES cds/client/*)

# The CDS loader and downloads, beside the streams.
korvo_layer(cds
  FILES cds/*
  USES stream depot records properties helpers errors kes runtime)

# The header-only C++ interface (and the generated umbrella header
# korvo/korvo.h) over every public header; nothing of the library includes
# it.
korvo_layer(cxx
  FILES korvo/* korvo/cxx/*
  USES cds stream depot records properties helpers errors kes runtime)
