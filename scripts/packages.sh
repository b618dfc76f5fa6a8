# SPDX-License-Identifier: MIT
# Sourced: the Debian packages the build and the tests use, and
# ensure_packages PACKAGE... which installs those that are missing (as root),
# or says how to install them and fails.
build_packages=(g++ cmake pkg-config libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri
                libx11-dev libxext-dev libxi-dev libxrender-dev libpixman-1-dev libpng-dev
                libwayland-dev wayland-protocols libxkbcommon-dev libdecor-0-dev libdecor-0-plugin-1-cairo)
test_packages=(libxtst-dev libgtest-dev xvfb x11-xkb-utils weston valgrind desktop-file-utils appstream lintian dpkg-dev file)

ensure_packages() {
  local who=${0##*/} missing=() p
  who=${who%.sh}
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  ((${#missing[@]})) || return 0
  if [[ $(id -u) -eq 0 ]]; then
    echo "$who: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "$who: missing packages; install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    return 1
  fi
}

# Root installs packages, nothing more: the rest of the script runs as the
# clone's owner, so that nothing in the clone is left owned by root (and what
# earlier runs as root left there goes back to the owner). Call after
# ensure_packages with the script's own arguments.
run_as_clone_owner() {
  [[ $(id -u) -eq 0 ]] || return 0
  local owner group
  owner=$(stat -c %u .)
  group=$(stat -c %g .)
  [[ $owner -ne 0 ]] || return 0
  local dir
  for dir in build build-asan out; do
    [[ -e $dir ]] && chown -R "$owner:$group" "$dir"
  done
  local home
  home=$(getent passwd "$owner" | cut -d: -f6) || true
  echo "${0##*/}: going on as the clone's owner (uid $owner)"
  # From the clone's top, where the scripts have gone: $0 may be relative to
  # where they were started.
  exec setpriv --reuid="$owner" --regid="$group" --clear-groups \
    env HOME="${home:-$PWD}" "$PWD/scripts/${0##*/}" "$@"
}
