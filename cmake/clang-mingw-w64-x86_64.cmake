# Cross-build for 64-bit Windows with Debian's clang, against the same MinGW-w64 headers and
# libraries the GCC build uses (libstdc++ of the posix thread model), linked by lld.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})

# clang does not find Debian's MinGW GCC on its own; point it at the posix-model runtime.
file(GLOB MINGW_GCC_DIRS /usr/lib/gcc/${TOOLCHAIN_PREFIX}/*-posix)
list(GET MINGW_GCC_DIRS -1 MINGW_GCC_DIR)
# Without a sysroot clang falls back to the host's /usr/include, where Linux headers would pass a
# configure check of a Windows program.
set(CMAKE_SYSROOT ${CMAKE_FIND_ROOT_PATH})
set(CMAKE_CXX_FLAGS_INIT "-stdlib++-isystem ${MINGW_GCC_DIR}/include/c++ -stdlib++-isystem ${MINGW_GCC_DIR}/include/c++/${TOOLCHAIN_PREFIX} -stdlib++-isystem ${MINGW_GCC_DIR}/include/c++/backward")
# std::thread of this libstdc++ sits on winpthreads; lld resolves it wherever it stands.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${MINGW_GCC_DIR} -lpthread")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine-run)
