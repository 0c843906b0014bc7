# What the Windows cross-build links with. HISTDATA_WINDOWS_DEPS is the
# prefix scripts/windows/build-dll.sh fills from Debian's source packages:
# include/ with sqlite3.h and libpq's client headers, lib/ with the static
# libraries libsqlite3.a, libpq.a, libpgcommon_shlib.a, libpgport_shlib.a.
set(HISTDATA_WINDOWS_DEPS "" CACHE PATH "Prefix of SQLite and libpq built for Windows")
set(deps ${HISTDATA_WINDOWS_DEPS})
foreach(f include/sqlite3.h include/libpq-fe.h lib/libsqlite3.a lib/libpq.a)
  if(NOT EXISTS ${deps}/${f})
    message(FATAL_ERROR "${deps}/${f} is missing: build with scripts/windows/build-dll.sh")
  endif()
endforeach()

add_library(SQLite::SQLite3 STATIC IMPORTED)
set_target_properties(SQLite::SQLite3 PROPERTIES IMPORTED_LOCATION ${deps}/lib/libsqlite3.a
                      INTERFACE_INCLUDE_DIRECTORIES ${deps}/include)

# libpq linked in whole, so that the extension library is one file. Its
# helpers come after it; then the Windows libraries it calls.
add_library(histdata_libpq INTERFACE)
target_include_directories(histdata_libpq INTERFACE ${deps}/include)
target_link_libraries(histdata_libpq INTERFACE ${deps}/lib/libpq.a
                      ${deps}/lib/libpgcommon_shlib.a ${deps}/lib/libpgport_shlib.a
                      ws2_32 secur32 shell32 advapi32)
set(HIST_PQ histdata_libpq)
# The settings download's client and the executable's version resource.
set(HIST_OS_LIBS winhttp version)

# Standard library, GCC runtime and threads linked in: nothing of the
# compiler's has to be installed beside the library on the server.
add_link_options(-static -static-libgcc -static-libstdc++)
# localtime_r and the other reentrant POSIX calls of the C runtime.
add_compile_definitions(_POSIX_C_SOURCE=200809L)
