#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, once:
# quiet when everything is there, a clear error when something cannot be had.
set -u

# "test to run" "package" pairs: a package is wanted when its test fails.
wanted=(
  "command -v cmake"                           cmake
  "command -v g++"                             g++
  "command -v make"                            make
  "command -v clang++"                         clang
  "ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" libclang-rt-14-dev
  "test -f /usr/src/googletest/CMakeLists.txt" googletest
  "test -f /usr/include/benchmark/benchmark.h" libbenchmark-dev
  "test -f /usr/include/zlib.h"                zlib1g-dev
  "command -v x86_64-w64-mingw32-g++-posix"    g++-mingw-w64-x86-64-posix
  "command -v i686-w64-mingw32-g++-posix"      g++-mingw-w64-i686-posix
  "command -v x86_64-w64-mingw32-windres"      binutils-mingw-w64-x86-64
  "command -v i686-w64-mingw32-windres"        binutils-mingw-w64-i686
  "test -x /usr/lib/wine/wine64"               wine64
  "test -x /usr/lib/wine/wine"                 wine32:i386
  "command -v wine"                            wine
  "command -v Xvfb"                            xvfb
  "command -v xauth"                           xauth
  "test -x /usr/bin/convert-im6.q16"           imagemagick
  "command -v xwd"                             x11-apps
  "command -v osslsigncode"                    osslsigncode
  "command -v openssl"                         openssl
  "command -v prlimit"                         util-linux
  "command -v valgrind"                        valgrind
)

missing=()
for ((i = 0; i < ${#wanted[@]}; i += 2)); do
  eval "${wanted[i]}" >/dev/null 2>&1 || missing+=("${wanted[i + 1]}")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}"
if ! command -v apt-get >/dev/null 2>&1; then
  echo "deps: apt-get is not available; install these Debian packages by hand: ${missing[*]}" >&2
  exit 1
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)

# The shipped installer is a 32-bit program: its tests need Wine's 32-bit
# side, which comes from the i386 architecture's packages.
case " ${missing[*]} " in
  *" wine32:i386 "*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $sudo dpkg --add-architecture i386 >>"$log" 2>&1 ||
        { cat "$log" >&2; echo "deps: cannot add the i386 architecture for 32-bit Wine" >&2; exit 1; }
    fi ;;
esac

# The package index has failed now and then for a moment (the i386 one
# among them): try it a few times before giving up.
updated=0
for attempt in 1 2 3 4 5; do
  if $sudo apt-get update -qq >>"$log" 2>&1 && ! grep -qE '^(W|E): Failed to fetch' "$log"; then
    updated=1; break
  fi
  echo "deps: the package index failed (attempt $attempt of 5), trying again" >&2
  : >"$log"
  sleep $((attempt * 5))
done
if [ $updated -ne 1 ]; then
  tail -20 "$log" >&2
  echo "deps: the package index could not be read; cannot install ${missing[*]}" >&2
  rm -f "$log"; exit 1
fi
installed=0
for attempt in 1 2 3; do
  if $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
    installed=1; break
  fi
  sleep $((attempt * 5))
done
if [ $installed -ne 1 ]; then
  tail -20 "$log" >&2
  case " ${missing[*]} " in
    *" wine32:i386 "*) echo "deps: 32-bit Wine (wine32:i386) could not be installed: the shipped i686 installer cannot be tested here" >&2 ;;
  esac
  echo "deps: installing ${missing[*]} failed (see above)" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

# Check again: a package that installed without providing the tool is an error.
for ((i = 0; i < ${#wanted[@]}; i += 2)); do
  if ! eval "${wanted[i]}" >/dev/null 2>&1; then
    echo "deps: ${wanted[i + 1]} is installed but '${wanted[i]}' still fails" >&2
    exit 1
  fi
done
