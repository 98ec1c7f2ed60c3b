#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Safe to run again: packages already installed are skipped.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libexpat1-dev libsqlite3-dev libfmt-dev libspdlog-dev zlib1g-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  gsoap dpkg-dev patch openssl ca-certificates
  libjpeg62-turbo-dev libpng-dev libdeflate-dev libgif-dev libtiff-dev libstb-dev
  python3 time xsltproc
  chromium  # the status page's test looks at the page in a headless browser
)
# --fuzz: also clang with its libFuzzer runtime (fuzz/run.sh);
# --tsan: nothing more (ThreadSanitizer ships with gcc), kept for symmetry;
# --windows: the mingw-w64 cross compilers, wine to run what they build,
# mingw's zlib and the tools that build the other Windows libraries.
for option in "$@"; do
  case "$option" in
    --fuzz) PACKAGES+=(clang libclang-rt-dev) ;;
    --tsan) ;;
    --windows) PACKAGES+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
                          wine wine64 tcl perl make) ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages are installed"
else
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "install-deps: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# gSOAP's runtime is compiled from Debian's source package (see the README).
"$(dirname "$0")/fetch-gsoap-source.sh"
