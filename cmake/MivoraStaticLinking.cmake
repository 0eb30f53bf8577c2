# Third-party libraries from their static archives, where the archives exist.
#
# Every start of the tool used to load and relocate about twenty shared
# libraries (ICU, the image codecs, the font libraries that cairo pulls in),
# which cost more than the work of `--version` or of a listing. Linked from
# archives, only the objects actually referenced end up in the executables, and
# a non-PIE executable needs no relative relocations at start.
option(MIVORA_STATIC_DEPENDENCIES "Link third-party libraries from their static archives where present" ON)

if(MIVORA_STATIC_DEPENDENCIES)
  string(APPEND CMAKE_EXE_LINKER_FLAGS
    " -static-libstdc++ -static-libgcc -no-pie -Wl,--gc-sections -Wl,--as-needed -Wl,-O1")
  add_compile_options(-ffunction-sections -fdata-sections)
endif()

# mivora_prefer_static(<name> ARCHIVES <lib names, dependents first> [DEPS <targets>] FALLBACK <targets>)
# Defines the interface target <name>: the archives lib<name>.a (and DEPS) when
# every archive is found and static linking is on, else the FALLBACK targets.
# Header folders always come from the FALLBACK targets.
function(mivora_prefer_static name)
  cmake_parse_arguments(ARG "" "" "ARCHIVES;DEPS;FALLBACK" ${ARGN})
  add_library(${name} INTERFACE)
  set(archives "")
  if(MIVORA_STATIC_DEPENDENCIES)
    foreach(archive ${ARG_ARCHIVES})
      string(MAKE_C_IDENTIFIER "MIVORA_ARCHIVE_${archive}" variable)
      find_library(${variable} lib${archive}.a)
      if(NOT ${variable})
        set(archives "")
        break()
      endif()
      list(APPEND archives ${${variable}})
    endforeach()
  endif()
  foreach(fallback ${ARG_FALLBACK})
    get_target_property(folders ${fallback} INTERFACE_INCLUDE_DIRECTORIES)
    if(folders)
      target_include_directories(${name} SYSTEM INTERFACE ${folders})
    endif()
  endforeach()
  if(archives)
    target_link_libraries(${name} INTERFACE ${archives} ${ARG_DEPS})
  else()
    target_link_libraries(${name} INTERFACE ${ARG_FALLBACK})
  endif()
endfunction()
