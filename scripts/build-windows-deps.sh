#!/usr/bin/env bash
# Builds the Windows (mingw-w64) libraries velkan and dornik need into a
# prefix, from Debian's source packages (fetched into .deps/, never
# committed): expat, SQLite, OpenSSL (libraries only), libjpeg-turbo,
# libpng, libtiff, giflib, libdeflate; GoogleTest from the machine's /usr/src/googletest;
# header-only fmt, spdlog and stb from the machine's headers. zlib is
# Debian's libz-mingw-w64-dev. A library already in the prefix is kept.
#   build-windows-deps.sh PREFIX
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
PREFIX="$(mkdir -p "$1" && cd "$1" && pwd)"
WORK="$PREFIX/work"
HOST=x86_64-w64-mingw32
JOBS="$(nproc)"
mkdir -p "$WORK" "$PREFIX/include" "$PREFIX/lib"
export CC=$HOST-gcc-posix CXX=$HOST-g++-posix AR=$HOST-gcc-ar-posix RANLIB=$HOST-gcc-ranlib-posix

have() { [ -f "$PREFIX/lib/$1" ]; }
source_of() { "$ROOT/scripts/fetch-debian-source.sh" "$1"; }
cmake_configure() {  # NAME SOURCE [cmake options...]
  local name="$1" source="$2"; shift 2
  cmake -S "$source" -B "$WORK/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DZR_WINDOWS_PREFIX="$PREFIX" \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF "$@" > "$WORK/$name.configure.log"
}
cmake_install() {  # NAME
  cmake --build "$WORK/$1" -j "$JOBS" > "$WORK/$1.build.log" || { tail -n 30 "$WORK/$1.build.log" >&2; exit 1; }
  cmake --install "$WORK/$1" > "$WORK/$1.install.log"
}
cmake_build() { cmake_configure "$@"; cmake_install "$1"; }
step() { echo "windows-deps: $*"; }

if ! have libexpat.a; then
  step expat
  cmake_configure expat "$(source_of expat)/expat" -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
    -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_SHARED_LIBS=OFF
  # Debian's security patches test "XML_DTD == 1", as their autotools build
  # defines it; CMake's configuration header defines it empty.
  sed -i 's/^#define XML_DTD$/#define XML_DTD 1/' "$WORK/expat/expat_config.h"
  cmake_install expat
fi

if ! have libsqlite3.a; then
  step "SQLite (amalgamation made with the host's tclsh)"
  src="$(source_of sqlite3)"
  rm -rf "$WORK/sqlite3" && mkdir -p "$WORK/sqlite3"
  (cd "$WORK/sqlite3" && CC=gcc "$src/configure" > configure.log && make sqlite3.c > make.log)
  $CC -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_FTS5=0 -c "$WORK/sqlite3/sqlite3.c" -o "$WORK/sqlite3/sqlite3.o"
  $AR rcs "$PREFIX/lib/libsqlite3.a" "$WORK/sqlite3/sqlite3.o"
  cp "$WORK/sqlite3/sqlite3.h" "$WORK/sqlite3/sqlite3ext.h" "$PREFIX/include/"
fi

if ! have libssl.a; then
  step "OpenSSL (libraries only; takes a few minutes)"
  src="$(source_of openssl)"
  rm -rf "$WORK/openssl" && cp -r "$src" "$WORK/openssl"
  (cd "$WORK/openssl" && CC=gcc CXX=g++ AR=ar RANLIB=ranlib ./Configure mingw64 no-shared no-tests \
     --cross-compile-prefix=$HOST- --prefix="$PREFIX" --libdir=lib > configure.log \
   && make -j "$JOBS" build_libs > make.log && make install_dev > install.log)
fi

if ! have libjpeg.a; then
  step libjpeg-turbo
  cmake_build jpeg "$(source_of libjpeg-turbo)" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
fi

if ! have libpng16.a; then
  step libpng
  cmake_build png "$(source_of libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF \
    -DPNG_EXECUTABLES=OFF -DPNG_BUILD_ZLIB=OFF
fi

if ! have libtiff.a; then
  step libtiff
  cmake_build tiff "$(source_of tiff)" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF \
    -Djbig=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djpeg12=OFF -Dlzma=OFF -Dzstd=OFF -Dwebp=OFF -Dlerc=OFF \
    -Dlibdeflate=OFF -Dpixarlog=OFF -Dcxx=OFF
fi

if ! have libgif.a; then
  step giflib
  src="$(source_of giflib)"
  rm -rf "$WORK/gif" && mkdir -p "$WORK/gif"
  for file in dgif_lib egif_lib gifalloc gif_err gif_hash openbsd-reallocarray quantize; do
    $CC -O2 -c "$src/$file.c" -o "$WORK/gif/$file.o"
  done
  $AR rcs "$PREFIX/lib/libgif.a" "$WORK/gif"/*.o
  cp "$src/gif_lib.h" "$PREFIX/include/"
fi

if ! have libdeflate.a; then
  step libdeflate
  src="$(source_of libdeflate)"
  rm -rf "$WORK/deflate" && mkdir -p "$WORK/deflate" "$PREFIX/lib/pkgconfig"
  for file in "$src"/lib/*.c "$src"/lib/x86/cpu_features.c; do
    $CC -O2 -I"$src" -c "$file" -o "$WORK/deflate/$(basename "$(dirname "$file")")_$(basename "$file" .c).o"
  done
  $AR rcs "$PREFIX/lib/libdeflate.a" "$WORK/deflate"/*.o
  cp "$src/libdeflate.h" "$PREFIX/include/"
  version="$(sed -n 's/^#define LIBDEFLATE_VERSION_STRING[[:space:]]*"\(.*\)"/\1/p' "$src/libdeflate.h")"
  sed -e "s|@PREFIX@|$PREFIX|" -e "s|@INCDIR@|$PREFIX/include|" -e "s|@LIBDIR@|$PREFIX/lib|" \
    -e "s|@VERSION@|$version|" "$src/libdeflate.pc.in" > "$PREFIX/lib/pkgconfig/libdeflate.pc"
fi

if ! have libgtest.a; then
  step GoogleTest
  cmake_build googletest /usr/src/googletest -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON
fi

step "header-only libraries"
for folder in fmt spdlog stb; do
  rm -rf "$PREFIX/include/$folder"
  cp -r "/usr/include/$folder" "$PREFIX/include/$folder"
done

if ! have libstb.a; then
  step "stb (its image, resize and write parts compiled once, as Debian's libstb is)"
  mkdir -p "$WORK/stb"
  printf '%s\n' '#define STB_IMAGE_IMPLEMENTATION' '#include <stb_image.h>' \
    '#define STB_IMAGE_RESIZE_IMPLEMENTATION' '#include <stb_image_resize.h>' \
    '#define STB_IMAGE_WRITE_IMPLEMENTATION' '#include <stb_image_write.h>' > "$WORK/stb/stb.c"
  $CC -O2 -I"$PREFIX/include/stb" -c "$WORK/stb/stb.c" -o "$WORK/stb/stb.o"
  $AR rcs "$PREFIX/lib/libstb.a" "$WORK/stb/stb.o"
fi
step "done: $PREFIX"
