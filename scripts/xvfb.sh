# SPDX-License-Identifier: MIT
# Sourced: start_xvfb starts a private 16-bit X server the size of the device's
# screen, exports DISPLAY for it and leaves its pid in $xvfb; stop_xvfb ends
# it and returns once it has gone.
start_xvfb() {
  exec 3< <(Xvfb -displayfd 1 -screen 0 320x480x16 -nolisten tcp 2>/dev/null)
  xvfb=$!
  local number
  if ! read -r -t 10 number <&3; then
    echo "Xvfb did not start (is the xvfb package installed?)" >&2
    return 1
  fi
  export DISPLAY=:$number
}

# A server still on its way out removes its sockets as it goes, and so takes
# the sockets of the next server given the same display number.
stop_xvfb() {
  [[ -n ${xvfb:-} ]] || return 0
  kill "$xvfb" 2>/dev/null || true
  local _
  for _ in $(seq 100); do kill -0 "$xvfb" 2>/dev/null || break; sleep 0.05; done
  xvfb=
}
