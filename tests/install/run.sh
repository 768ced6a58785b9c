#!/bin/sh
# Installs a build into a prefix, builds tests/install/main.c against the
# installed headers and libraries through pkg-config, and runs it.
# Usage: run.sh BUILD_DIR PREFIX
set -eu
build=$1
prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
pcdir=$(dirname "$(find "$prefix" -name ostrel-google-drive-common.pc | head -n 1)")
export PKG_CONFIG_PATH="$pcdir"
libdir=$(pkg-config --variable=libdir ostrel-google-drive-common)
for lib in libostrel_google_drive_common.so.0 libostrel_common.so.0 libostrel_gridftp_server.so.6; do
  test -e "$libdir/$lib" || { echo "missing $libdir/$lib" >&2; exit 1; }
done
# The tool's bash completion, where bash-completion finds it under the prefix.
completion="$prefix/share/bash-completion/completions/ostrel-gdrive"
if [ -e "$prefix/bin/ostrel-gdrive" ] && [ ! -f "$completion" ]; then
  echo "missing $completion" >&2
  exit 1
fi
mkdir -p "$prefix/bin"
# shellcheck disable=SC2046
${CC:-cc} -std=c11 -pedantic -Wall -Wextra -Werror -o "$prefix/bin/ostrel-install-check" "$here/main.c" \
  $(pkg-config --cflags --libs ostrel-google-drive-common)
LD_LIBRARY_PATH="$libdir" "$prefix/bin/ostrel-install-check"

# A program that uses only this library's symbols, linked --as-needed (as
# Debian does by default), starts without LD_LIBRARY_PATH.
# shellcheck disable=SC2046
${CC:-cc} -std=c11 -pedantic -Wall -Wextra -Werror -o "$prefix/bin/ostrel-library-only" "$here/library_only.c" \
  -Wl,--as-needed $(pkg-config --cflags --libs ostrel-google-drive-common) -Wl,-rpath,"$libdir"
env -u LD_LIBRARY_PATH "$prefix/bin/ostrel-library-only"

# The same program built by a CMake project that finds the library through
# its CMake package, and started without LD_LIBRARY_PATH.
consumer_build="$prefix/cmake-consumer"
env -u LD_LIBRARY_PATH cmake -S "$here/cmake_consumer" -B "$consumer_build" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="-Wall -Wextra -Werror -pedantic" >/dev/null
cmake --build "$consumer_build" >/dev/null
env -u LD_LIBRARY_PATH "$consumer_build/consumer"

# The worked example, built against the installed tree through pkg-config,
# serves a client's session on recorded Drive answers; its whole output is
# compared.
source_dir=$(cd "$here/../.." && pwd)
# shellcheck disable=SC2046
${CC:-cc} -std=c11 -pedantic -Wall -Wextra -Werror -o "$prefix/bin/request" "$source_dir/examples/request.c" \
  $(pkg-config --cflags --libs ostrel-google-drive-common) -Wl,-rpath,"$libdir"
out="$prefix/request.out"
env -u LD_LIBRARY_PATH "$prefix/bin/request" "$source_dir/examples/drive-session.json" >"$out" 2>&1 || echo "(exit $?)" >>"$out"
if [ -n "${OSTREL_UPDATE_GOLDEN:-}" ]; then
  cp "$out" "$here/request.out"
fi
diff -u "$here/request.out" "$out"

# The installed Python binding finds the installed library by itself, and
# every call it declares agrees with the header and works against Drive's
# emulator.
env -u OSTREL_GDRIVE_LIBRARY -u LD_LIBRARY_PATH OSTREL_GDRIVE_BINDING="$prefix/lib/ostrel-gdrive/python" \
  "${PYTHON:-python3}" "$source_dir/bindings/python/tests/test_session.py" >"$prefix/binding.out" 2>&1 \
  || { cat "$prefix/binding.out"; exit 1; }
