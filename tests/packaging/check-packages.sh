#!/usr/bin/env bash
# The Debian packages as a user gets them: cpack makes them from the build
# folder; their file lists, control fields, desktop entry, icons and ELF
# headers are checked; unpacked into a root of their own, the program logs in
# to the packaged development server on a virtual display, and a small
# program of another project links netvane through pkg-config and through
# find_package.
#
# Usage: check-packages.sh BUILD_DIR VERSION
#   BUILD_DIR  the build folder (its CPackConfig.cmake)
#   VERSION    the project's version, which every package carries
# TARVO_PACKAGES_WAIT  seconds to wait for the server, the window, the login (30)
set -euo pipefail

build=$1
version=$2
here=$(cd "$(dirname "$0")" && pwd)
limit=${TARVO_PACKAGES_WAIT:-30}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { echo "-- [${SECONDS}s] $*"; }

for tool in cpack dpkg dpkg-deb desktop-file-validate readelf file Xvfb xdotool pkg-config \
  c++ cmake; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps.sh installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvo-packages.XXXXXX")
pids=()
finish() {
  local rc=$? pid
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  if [ "$rc" -eq 0 ]; then
    rm -rf "$work"
  else
    echo "packages: the packages, the unpacked root and the logs are kept in $work" >&2
  fi
}
trap finish EXIT

# until_true SECONDS WHAT COMMAND...: polls COMMAND until it succeeds.
until_true() {
  local end=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    ((SECONDS < end)) || fail "$what did not happen within ${limit}s"
    sleep 0.1
  done
}

step "cpack"
nice -n 10 cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
declare -A deb
for package in tarvo-admin libnetvane libnetvane-dev tarvo-devserver; do
  deb[$package]=$(echo "$work/out/${package}_${version}-1_"*.deb)
  [ -f "${deb[$package]}" ] || fail "no package $package $version: $(ls "$work/out")"
done

step "contents: every listed entry once with its mode, nothing else, all owned by root"
for package in "${!deb[@]}"; do
  mapfile -t patterns < <(grep -v '^#' "$here/$package.contents")
  mapfile -t entries < <(dpkg-deb -c "${deb[$package]}" | awk '$1 !~ /^d/ { print $1, $6 }')
  for pattern in "${patterns[@]}"; do
    count=0
    for entry in "${entries[@]}"; do
      # shellcheck disable=SC2053
      [[ $entry == $pattern ]] && count=$((count + 1))
    done
    [ "$count" -eq 1 ] || fail "$package: $count entries match \"$pattern\""
  done
  for entry in "${entries[@]}"; do
    matched=0
    for pattern in "${patterns[@]}"; do
      # shellcheck disable=SC2053
      [[ $entry == $pattern ]] && matched=1 && break
    done
    [ "$matched" -eq 1 ] || fail "$package: unexpected entry \"$entry\""
  done
  owners=$(dpkg-deb -c "${deb[$package]}" | awk '$2 != "root/root"')
  [ -z "$owners" ] || fail "$package: entries not owned by root: $owners"
done

step "control fields"
field() { dpkg-deb -f "${deb[$1]}" "$2"; }
for package in "${!deb[@]}"; do
  [ "$(field "$package" Version)" = "$version-1" ] || fail "$package: version $(field "$package" Version)"
done
admin_depends=$(field tarvo-admin Depends)
for dependency in "fonts-noto-cjk | fonts-wqy-microhei" "libqt6widgets6 " "libspdlog" "libssl3 " \
  "libopencc1.1"; do
  [[ $admin_depends == *"$dependency"* ]] || fail "tarvo-admin does not depend on $dependency: $admin_depends"
done
# Its own copy of the library serves it, not the libnetvane package.
[[ $admin_depends != *libnetvane* ]] || fail "tarvo-admin depends on libnetvane: $admin_depends"
for package in libnetvane tarvo-devserver; do
  [[ $(field $package Depends) == *"libssl3 "* ]] || fail "$package: Depends $(field $package Depends)"
done
# Loaded on first use, so named by hand.
[[ $(field libnetvane Depends) == *"libopencc1.1"* ]] || fail "libnetvane: Depends $(field libnetvane Depends)"
[ "$(field libnetvane-dev Depends)" = "libnetvane (= $version-1)" ] ||
  fail "libnetvane-dev: Depends $(field libnetvane-dev Depends)"
[ "$(dpkg-deb -I "${deb[tarvo-admin]}" conffiles)" = "/opt/tarvo/Conf/Tarvo.conf" ] ||
  fail "tarvo-admin: conffiles $(dpkg-deb -I "${deb[tarvo-admin]}" conffiles 2>&1)"
[[ $(dpkg-deb -I "${deb[libnetvane]}" shlibs) == "libnetvane 1 libnetvane (>= $version)" ]] ||
  fail "libnetvane: shlibs $(dpkg-deb -I "${deb[libnetvane]}" shlibs 2>&1)"

step "an upgrade keeps an edited Tarvo.conf"
# The same package as a later version, installed over the first into a
# dpkg database of its own.
dpkg-deb -R "${deb[tarvo-admin]}" "$work/next"
sed -i "s/^Version: .*/Version: $version-2/" "$work/next/DEBIAN/control"
dpkg-deb -b --root-owner-group -Zgzip -z1 "$work/next" "$work/next.deb" >/dev/null
dpkg_root=$work/dpkg-root
mkdir -p "$dpkg_root/var/lib/dpkg/info" "$dpkg_root/var/lib/dpkg/updates"
touch "$dpkg_root/var/lib/dpkg/status"
dpkg_install() {
  dpkg --root="$dpkg_root" --log=/dev/null --force-not-root --force-depends \
    --force-script-chrootless --force-confold -i "$1" >>"$work/dpkg.log" 2>&1 ||
    fail "dpkg -i $1: $(cat "$work/dpkg.log")"
}
dpkg_install "${deb[tarvo-admin]}"
echo "TarvoSWHost=http://edited.example" >>"$dpkg_root/opt/tarvo/Conf/Tarvo.conf"
dpkg_install "$work/next.deb"
grep -q "^Version: $version-2$" "$dpkg_root/var/lib/dpkg/status" || fail "the upgrade was not installed"
grep -qx "TarvoSWHost=http://edited.example" "$dpkg_root/opt/tarvo/Conf/Tarvo.conf" ||
  fail "the upgrade replaced the edited Tarvo.conf"

step "dpkg -x into a root"
root=$work/root
for package in "${!deb[@]}"; do
  dpkg -x "${deb[$package]}" "$root"
done
bin=$root/opt/tarvo/Bin
libdir=$(dirname "$(echo "$root"/usr/lib/*/libnetvane.so.1)")

step "desktop entry, launcher, icons"
desktop=$root/usr/share/applications/tarvo-admin.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
for line in "Name[zh_CN]=Quorvi管理系统" "Exec=tarvo-admin" "Icon=tarvo-admin" \
  "Categories=Office;Education;"; do
  grep -qxF "$line" "$desktop" || fail "no \"$line\" in the desktop entry"
done
for key in Name Comment; do
  grep -q "^$key=." "$desktop" || fail "no $key in the desktop entry"
done
launched=$(sed -n 's/^exec "\([^"]*\)" "\$@"$/\1/p' "$root/usr/bin/tarvo-admin")
[ "$launched" = /opt/tarvo/Bin/TarvoAdmin ] || fail "the launcher starts \"$launched\""
for size in 48 128 256; do
  file -b "$root/usr/share/icons/hicolor/${size}x$size/apps/tarvo-admin.png" |
    grep -q "^PNG image data, $size x $size," || fail "the ${size}x$size icon is not that size"
done

grep -qx 'ExecStart=/usr/bin/tarvo-devserver .*' "$root/usr/lib/systemd/system/tarvo-devserver.service" ||
  fail "the systemd unit does not start the packaged server"

step "ELF: RUNPATH \$ORIGIN in Bin, sonames, the version note"
runpath() { readelf -d "$1" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]$/\1/p'; }
soname() { readelf -d "$1" | sed -n 's/.*(SONAME).*\[\(.*\)\]$/\1/p'; }
for file in "$bin"/{TarvoAdmin,libnetvane.so.1,libjasmer.so.1,libdebuglog.so.1} \
  "$root"/usr/lib/tarvo-devserver/{tarvo-devserver,libjasmer.so.1}; do
  # shellcheck disable=SC2016
  [ "$(runpath "$file")" = '$ORIGIN' ] || fail "$file: RUNPATH \"$(runpath "$file")\""
done
for lib in libnetvane.so.1 libjasmer.so.1 libdebuglog.so.1; do
  [ "$(soname "$bin/$lib")" = "$lib" ] || fail "$lib: SONAME $(soname "$bin/$lib")"
done
[ "$(soname "$libdir/libnetvane.so.1")" = libnetvane.so.1 ] || fail "the system's libnetvane: SONAME"
[ -z "$(runpath "$libdir/libnetvane.so.1")" ] || fail "the system's libnetvane has a RUNPATH"
# The program reports the version in its note to the server: four 16-bit
# words, which stripping must keep.
note=$(IFS=.; for part in $version; do printf '%02x %02x ' $((part & 255)) $((part >> 8)); done)
readelf -n "$bin/TarvoAdmin" | grep -A3 '\.note\.tarvo\.version' |
  grep -q "description data: ${note% }" || fail "the packaged program's version note is not $version"

step "the unpacked program logs in to the unpacked development server"
server=$root/usr/bin/tarvo-devserver
mkdir -m 700 "$work/run" "$work/tmp" "$work/home"
coproc XVFB { exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>"$work/xvfb.log"; }
pids+=("$XVFB_PID")
read -r -t "$limit" display <&"${XVFB[0]}" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$display"

# Port 8041 is the program's; a loopback address of its own keeps runs apart.
for _ in 1 2 3 4 5; do
  address="127.$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1)).$((RANDOM % 254 + 1))"
  "$server" --demo --db :memory: --listen "$address:8041" >"$work/server.out" 2>"$work/server.log" &
  server_pid=$!
  started() { grep -q '^listening on' "$work/server.out" || ! kill -0 "$server_pid" 2>/dev/null; }
  until_true "$limit" "the server's start" started
  grep -q '^listening on' "$work/server.out" && break
  wait "$server_pid" || true
  server_pid=
done
[ -n "$server_pid" ] || fail "the development server did not start: $(cat "$work/server.log")"
pids+=("$server_pid")
grep -q " $root/usr/lib/tarvo-devserver/libjasmer.so.1" "/proc/$server_pid/maps" ||
  fail "the server's jasmer is not its own"

# The packaged configuration file, its key pointed at that server.
conf=$root/opt/tarvo/Conf/Tarvo.conf
grep -q '^TarvoSWHost=' "$conf" || fail "the packaged Tarvo.conf has no TarvoSWHost"
sed -i "s|^TarvoSWHost=.*|TarvoSWHost=http://$address|" "$conf"

log=$work/tarvo.log
env -u LD_LIBRARY_PATH -u WAYLAND_DISPLAY -u SESSION_MANAGER QT_QPA_PLATFORM=xcb \
  HOME="$work/home" XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/tmp" \
  DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" TARVO_LOG_FILE="$log" \
  "$bin/TarvoAdmin" >"$work/program.out" 2>&1 &
app=$!
pids+=("$app")
alive() { kill -0 "$app" 2>/dev/null || fail "the program ended: $(cat "$work/program.out")"; }
login_window() { alive && window=$(xdotool search --onlyvisible --pid "$app" 2>/dev/null | head -1); }
until_true "$limit" "the login window" login_window
timeout "$limit" xdotool windowfocus --sync "$window" || fail "the login window took no focus"
xdotool type --delay 20 13800138000
xdotool key Return
xdotool type --delay 20 tarvo123
xdotool key Return Return
logged_in() { alive && grep -q '登陆成功' "$log" 2>/dev/null; }
until_true "$limit" "the login" logged_in
grep -q "^POST /alogin 200 " "$work/server.log" || fail "the server saw no login: $(cat "$work/server.log")"
# The libraries came from the program's own folder.
for lib in libnetvane.so.1 libjasmer.so.1 libdebuglog.so.1; do
  grep -q " $bin/$lib" "/proc/$app/maps" || fail "$lib was not loaded from $bin"
done
kill "$app"

step "a program of another project links netvane through pkg-config"
export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$libdir/pkgconfig
[ "$(pkg-config --modversion netvane)" = "$version" ] || fail "pkg-config: $(pkg-config --modversion netvane)"
# shellcheck disable=SC2046
nice -n 10 c++ -std=c++20 "$here/consumer/consumer.cpp" -o "$work/consumer-pc" \
  $(pkg-config --cflags --libs netvane)
expected='%E4%B8%AD%201%262'
[ "$(LD_LIBRARY_PATH=$libdir "$work/consumer-pc")" = "$expected" ] || fail "pkg-config consumer's output"

step "and through find_package"
nice -n 10 cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$root/usr" >"$work/consumer.log" 2>&1 ||
  fail "find_package: $(cat "$work/consumer.log")"
grep -qx "netvane_DIR:PATH=$libdir/cmake/netvane" "$work/consumer/CMakeCache.txt" ||
  fail "find_package found another netvane: $(grep netvane_DIR "$work/consumer/CMakeCache.txt")"
nice -n 10 cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1 || fail "$(cat "$work/consumer.log")"
[ "$(env -u LD_LIBRARY_PATH "$work/consumer/consumer")" = "$expected" ] || fail "find_package consumer's output"
echo "packages: all checks passed"
