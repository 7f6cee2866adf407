# Sourced by the scripts that need an X server of their own (the desktop and Windows end-to-end
# tests, the Windows window tests, the Windows part of scripts/test-all.sh).

# Starts Xvfb on a display it picks itself, so that parallel runs never collide, and waits until
# it says which: exports DISPLAY and sets xvfb_pid. $1 is a folder for the display's number.
# Returns 1 when the server does not start; one that never says its display is ended.
#
# -noreset: by default an X server resets when its last client disconnects, and refuses the
# clients that connect meanwhile ("cannot open display"). A test polling for a window with
# xdotool disconnects over and over, just when the program under test may make its first
# connection.
start_xvfb() {
  local folder=$1 _
  rm -f "$folder/display"
  Xvfb -noreset -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$folder/display" \
    2>/dev/null &
  xvfb_pid=$!
  for _ in $(seq 200); do
    if [ -s "$folder/display" ]; then
      export DISPLAY=":$(head -n1 "$folder/display")"
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.05
  done
  kill "$xvfb_pid" 2>/dev/null || true
  return 1
}
