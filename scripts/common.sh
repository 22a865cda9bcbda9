# Shared by the scripts in this folder: where the checkout and the build root live.
# shellcheck shell=bash
set -euo pipefail

MIRTLE_SRC="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
MIRTLE_ROOT="${MIRTLE_ROOT:-${XDG_CACHE_HOME:-/var/cache}/mirtle-root}"

# Everything the build and the tests need inside the root.  Changing this
# list rebuilds the root on the next bootstrap.
MIRTLE_PACKAGES=(
  python3.14-dev python3.14-dbg python3.14-venv
  g++ cmake ninja-build git pkg-config
  python3-pytest python3-hypothesis python3-scikit-build-core
  libgtest-dev libbenchmark-dev
  clang libclang-rt-dev unicode-data
  python3-mypy python3-pyarrow python3-pandas python3-dask python3-distributed
  python3-openpyxl libxlsxwriter-dev
  libre2-11  # provides a virtual package pyarrow needs; debootstrap resolves no virtuals
)

say() { printf '[mirtle] %s\n' "$*" >&2; }

# True on a machine that has CPython 3.14 with its headers: no root needed.
have_native_python() {
  command -v python3.14 >/dev/null 2>&1 &&
    python3.14 -c 'import sysconfig, os, sys; sys.exit(not os.path.exists(os.path.join(sysconfig.get_path("include"), "Python.h")))' 2>/dev/null
}

packages_stamp() { printf '%s\n' "${MIRTLE_PACKAGES[@]}" | sort | sha256sum | cut -c1-16; }
