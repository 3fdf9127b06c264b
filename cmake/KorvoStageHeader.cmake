cmake_minimum_required(VERSION 3.25)
# Copies one public header into the staged include tree, turning its
# includes of other public headers into the installed spelling:
#   #include "properties/korvo_types.h"  ->  #include <korvo/properties/korvo_types.h>
#   #include "korvo/cxx/error.hpp"       ->  #include <korvo/cxx/error.hpp>
#   #include "properties/errors/korvo_catalog.h"  ->  #include <korvo/properties/korvo_catalog.h>
# so that the installed headers find each other with only <prefix>/include
# on the include path. FOLDER_MAP holds "<source folder>><installed folder>"
# items for the folders whose headers are installed into another one.
#   cmake -DSOURCE=<header> -DDEST=<staged header> -DFOLDERS=<a;b;...>
#         [-DFOLDER_MAP=<from>><to>;...] -P KorvoStageHeader.cmake
file(READ ${SOURCE} text)
foreach(pair IN LISTS FOLDER_MAP)
  string(REPLACE ">" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 to)
  string(REPLACE "#include \"${from}/" "#include \"${to}/" text "${text}")
endforeach()
string(REPLACE ";" "|" folders "${FOLDERS}")
string(REGEX REPLACE "#include \"korvo/([^\"]+)\"" "#include <korvo/\\1>" text "${text}")
string(REGEX REPLACE "#include \"((${folders})/[^\"]+)\"" "#include <korvo/\\1>" text "${text}")
file(WRITE ${DEST} "${text}")
