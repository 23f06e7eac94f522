# FindLibdeflate.cmake - find libdeflate's header and library
#
# Defines Libdeflate_FOUND and the imported target Libdeflate::Libdeflate.
# Debian ships no CMake package for it (libdeflate-dev has a .pc file, and
# pkg-config may be missing), so look for the two files directly.
find_path(Libdeflate_INCLUDE_DIR NAMES libdeflate.h)
find_library(Libdeflate_LIBRARY NAMES deflate libdeflate)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Libdeflate REQUIRED_VARS Libdeflate_LIBRARY Libdeflate_INCLUDE_DIR)
if(Libdeflate_FOUND AND NOT TARGET Libdeflate::Libdeflate)
  add_library(Libdeflate::Libdeflate UNKNOWN IMPORTED)
  set_target_properties(Libdeflate::Libdeflate PROPERTIES
    IMPORTED_LOCATION "${Libdeflate_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${Libdeflate_INCLUDE_DIR}")
endif()
mark_as_advanced(Libdeflate_INCLUDE_DIR Libdeflate_LIBRARY)
