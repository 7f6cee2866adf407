# The station's page of "History…", seen from outside the program, for the end-to-end tests of
# both windows. Sourced; needs curl, and fail() and wait_for() of the sourcing script.

# A browser that only notes the addresses it is given, one a line in $1/opened: first in PATH,
# the desktop's opener (xdg-open) for Qt and for Wine's winebrowser alike.
install_noting_browser() {
  mkdir -p "$1/bin"
  cat >"$1/bin/xdg-open" <<NOTE
#!/bin/sh
echo "\$1" >>"$1/opened"
NOTE
  chmod +x "$1/bin/xdg-open"
  export PATH="$1/bin:$PATH"
}

# The HTTP status of an address, 000 when nothing answers.
http_status() { curl -s -o "$2" -w '%{http_code}' --max-time 10 "$1" || true; }

# The page at $1 (as handed to the browser) answers under its token, on loopback, with the page
# or the notice that no history is kept; without the token, or with another, nothing is shown.
check_station_page() {
  local url=${1%%#*} body=$2
  [[ $url =~ ^http://127\.0\.0\.1:[0-9]+/[0-9a-f]{32}/$ ]] || fail "the page's address is $1"
  local origin=${url%/*/}
  [ "$(http_status "$url" "$body")" = 200 ] || fail "the page did not answer at $url"
  grep -qE 'No local history yet|<title>Ravdel stations</title>' "$body" ||
    fail "the page is neither the notice nor the figures"
  for guess in "$origin/" "$origin/api/stations" "$origin/00000000000000000000000000000000/"; do
    [ "$(http_status "$guess" /dev/null)" = 404 ] || fail "$guess answered without the token"
  done
}

# Nothing listens at the page's port any more.
page_closed() { [ "$(http_status "${1%%#*}" /dev/null)" = 000 ]; }
