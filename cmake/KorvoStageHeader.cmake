cmake_minimum_required(VERSION 3.25)
# Copies one public header into the staged include tree, turning its
# includes of other public headers into the installed spelling:
#   #include "properties/korvo_types.h"  ->  #include <korvo/properties/korvo_types.h>
#   #include "korvo/cxx/error.hpp"       ->  #include <korvo/cxx/error.hpp>
# so that the installed headers find each other with only <prefix>/include
# on the include path.
#   cmake -DSOURCE=<header> -DDEST=<staged header> -DFOLDERS=<a;b;...> -P KorvoStageHeader.cmake
file(READ ${SOURCE} text)
string(REPLACE ";" "|" folders "${FOLDERS}")
string(REGEX REPLACE "#include \"korvo/([^\"]+)\"" "#include <korvo/\\1>" text "${text}")
string(REGEX REPLACE "#include \"((${folders})/[^\"]+)\"" "#include <korvo/\\1>" text "${text}")
file(WRITE ${DEST} "${text}")
