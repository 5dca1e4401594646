# The libraries of the Windows build: static, cross-built from Debian's
# sources into QUORVEL_WIN_PREFIX (scripts/setup-windows).
set(P ${QUORVEL_WIN_PREFIX})
if(NOT EXISTS ${P}/lib/libcurl.a OR NOT EXISTS ${P}/lib/libnghttp2.a)
  message(FATAL_ERROR "QUORVEL_WIN_PREFIX (${P}) holds no Windows libraries, or not all: run scripts/setup-windows")
endif()

add_library(qv_deps_core INTERFACE)
target_include_directories(qv_deps_core INTERFACE ${P}/include)
# __USE_MINGW_ANSI_STDIO: the C99 printf of mingw-w64 (%zu, %lld), as on Linux.
target_compile_definitions(qv_deps_core INTERFACE CURL_STATICLIB _WIN32_WINNT=0x0A00 WINVER=0x0A00 UNICODE _UNICODE
  __USE_MINGW_ANSI_STDIO=1)
# nghttp2 after libcurl, which calls it (built with NGHTTP2_STATICLIB; no
# code here includes its header); the system libraries after both.
target_link_libraries(qv_deps_core INTERFACE ${P}/lib/libcurl.a ${P}/lib/libnghttp2.a ${P}/lib/libjsoncpp.a
  z bcrypt advapi32 crypt32 winhttp ws2_32 shell32 ole32 uuid)

# wx-config of the static wxMSW build gives the flags and libraries.
execute_process(COMMAND ${P}/bin/wx-config --static=yes --cxxflags
                OUTPUT_VARIABLE wx_cxxflags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${P}/bin/wx-config --static=yes --libs core,base
                OUTPUT_VARIABLE wx_libs OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
separate_arguments(wx_cxxflags UNIX_COMMAND "${wx_cxxflags}")
separate_arguments(wx_libs UNIX_COMMAND "${wx_libs}")
add_library(qv_deps_gui INTERFACE)
target_compile_options(qv_deps_gui INTERFACE ${wx_cxxflags})
target_link_libraries(qv_deps_gui INTERFACE ${wx_libs})

add_library(qv_deps_httplib INTERFACE)
target_link_libraries(qv_deps_httplib INTERFACE ws2_32 crypt32)

add_compile_options(-include ${CMAKE_CURRENT_LIST_DIR}/win32-prelude.h)

# One executable that needs no DLL beside it: the C++ and threads runtimes
# linked in.
add_link_options(-static -static-libgcc -static-libstdc++)
