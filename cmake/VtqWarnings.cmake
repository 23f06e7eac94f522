# VtqWarnings.cmake - the project's warnings, set on each of its targets
#
# vtq_add_warnings(DIR) gives every target compiled in DIR and the folders
# below it the warning flags, and -Werror when VTQ_WERROR is on.  Called
# once, after the last add_subdirectory, so that the tests, fuzz replays and
# benchmarks get the same flags as the libraries without their files having
# to ask; a project that adds this one as a subdirectory does not inherit
# them.  -Werror is for the presets and CI: a user's compiler may warn
# where ours does not, and that must not stop a build.
include_guard(GLOBAL)

set(VTQ_WARNING_FLAGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wno-sign-conversion)
if(VTQ_WERROR)
  list(APPEND VTQ_WARNING_FLAGS -Werror)
endif()

function(vtq_add_warnings dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|STATIC_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      target_compile_options(${target} PRIVATE ${VTQ_WARNING_FLAGS} -fstack-protector-strong)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    vtq_add_warnings(${subdir})
  endforeach()
endfunction()
