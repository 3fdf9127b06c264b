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
korvo_layer(helpers FILES properties/helpers/* USES errors kes runtime)

# Property lists, their types, keys, encoding and files. Their folder holds
# the folders of the two layers above, whose headers are installed beside
# its own (cmake/KorvoHeaders.cmake).
korvo_layer(properties FILES properties/* USES helpers errors kes runtime)

# Segments, TOCs, messages, lengths, times and commands.
korvo_layer(records FILES records/* USES properties errors kes runtime)

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

# System headers. A layer's files may include the system headers of the lists
# its korvo_layer_system_headers line names, and those of "std" alone when it
# has none: the subsystem layers reach the host only through kes/ and
# runtime/. tools/, bench/ and fuzz/ have lists of their own.

# The C and C++ standard libraries (no setjmp.h: nothing of ours jumps).
korvo_system_headers(std
  assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h
  limits.h locale.h math.h signal.h stdalign.h stdarg.h stdatomic.h stdbool.h
  stddef.h stdint.h stdio.h stdlib.h stdnoreturn.h string.h tgmath.h
  threads.h time.h uchar.h wchar.h wctype.h
  cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csignal
  cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype
  algorithm any array atomic barrier bit bitset charconv chrono codecvt
  compare complex concepts condition_variable coroutine deque exception
  execution filesystem format forward_list fstream functional future
  initializer_list iomanip ios iosfwd iostream istream iterator latch limits
  list locale map memory memory_resource mutex new numbers numeric optional
  ostream queue random ranges ratio regex scoped_allocator semaphore set
  shared_mutex source_location span sstream stack stdexcept stop_token
  streambuf string string_view syncstream system_error thread tuple
  type_traits typeindex typeinfo unordered_map unordered_set utility valarray
  variant vector version)
# The POSIX and Linux host.
korvo_system_headers(posix
  unistd.h fcntl.h dirent.h dlfcn.h pwd.h grp.h poll.h pthread.h sched.h
  spawn.h fnmatch.h sys/* linux/*)
korvo_system_headers(win32
  windows.h winhttp.h winsock2.h ws2tcpip.h afunix.h aclapi.h accctrl.h sddl.h
  securitybaseapi.h bcrypt.h psapi.h winioctl.h winternl.h ntsecapi.h lm.h
  userenv.h shlobj.h shellapi.h tlhelp32.h io.h direct.h share.h process.h malloc.h)
korvo_system_headers(acl acl/*)
korvo_system_headers(intrinsics immintrin.h)
korvo_system_headers(curl curl/*)
# korvo's own installed headers, as the programs include them.
korvo_system_headers(public korvo/* korvo/cxx/*)
korvo_system_headers(program_libraries CLI/* nlohmann/* openssl/*)
korvo_system_headers(bench_libraries benchmark/* msgpack.h openssl/*)
# Written into the build tree by protoc.
korvo_system_headers(bench_generated bench/*.pb.h)
korvo_system_headers(fuzz_libraries sanitizer/*)

korvo_layer_system_headers(runtime std posix win32)
korvo_layer_system_headers(kes std posix win32 acl intrinsics)
korvo_layer_system_headers(cds_client std posix win32 curl)

korvo_program_folder(tools SYSTEM std posix win32 public program_libraries)
korvo_program_folder(bench SYSTEM std posix bench_libraries bench_generated)
korvo_program_folder(fuzz SYSTEM std posix fuzz_libraries)

