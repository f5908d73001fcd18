# Every dependency is a Debian package installed by scripts/setup.sh.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)

pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
pkg_check_modules(MARIADB REQUIRED IMPORTED_TARGET libmariadb)
pkg_check_modules(LIBSSH REQUIRED IMPORTED_TARGET libssh)
# The simulator opens PKCS#12 files the way a device does; the product
# never links it.
pkg_check_modules(LIBCRYPTO REQUIRED IMPORTED_TARGET libcrypto)

find_path(SOCKETPP_INCLUDE_DIR socket++/sockinet.h REQUIRED)
find_library(SOCKETPP_LIBRARY NAMES socket++ REQUIRED)
add_library(socketpp INTERFACE)
target_include_directories(socketpp SYSTEM INTERFACE ${SOCKETPP_INCLUDE_DIR})
target_link_libraries(socketpp INTERFACE ${SOCKETPP_LIBRARY})

find_path(DTL_INCLUDE_DIR dtl/dtl.hpp REQUIRED)
add_library(dtl INTERFACE)
target_include_directories(dtl SYSTEM INTERFACE ${DTL_INCLUDE_DIR})

# forkpty lives in libc since glibc 2.34; libutil is only a stub there.
find_library(UTIL_LIBRARY NAMES util)

# tarvo_folder_library(NAME name [LIBS l...] [EXCLUDE file...])
# A static library from every .cpp of the current folder (an interface
# library while the folder has none), so adding a class needs no edit here.
function(tarvo_folder_library)
  cmake_parse_arguments(F "" "NAME" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  foreach(ex ${F_EXCLUDE})
    list(REMOVE_ITEM sources "${CMAKE_CURRENT_SOURCE_DIR}/${ex}")
  endforeach()
  if(sources)
    add_library(${F_NAME} STATIC ${sources})
    target_link_libraries(${F_NAME} PUBLIC ${F_LIBS})
    target_include_directories(${F_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  else()
    add_library(${F_NAME} INTERFACE)
    target_link_libraries(${F_NAME} INTERFACE ${F_LIBS})
    target_include_directories(${F_NAME} INTERFACE ${PROJECT_SOURCE_DIR})
  endif()
endfunction()
