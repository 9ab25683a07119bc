#!/usr/bin/env bash
# Makes the Debian package of a configured and built tree, checks its name, dependencies and files, installs it
# with dpkg into a throw-away root, runs the installed `harbinex --version` there, checks the program directory
# the installed program gives an ordinary user, the service unit with systemd-analyze, the manual page with man,
# the menu entry and the AppStream file with their validators. Usage: check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# cpack builds what is missing first: in ./test, nothing.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log") ||
  fail "cpack: $(cat "$work/cpack.log")"
arch=$(dpkg --print-architecture)
deb="$work/out/harbinex_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $(basename "$deb") among: $(ls "$work/out")"

# Dependencies from the shared libraries, and no maintainer script that could enable or start the service.
info=$(dpkg-deb -I "$deb")
depends=$(dpkg-deb -f "$deb" Depends)
[[ "$depends" == *libc6* ]] || fail "Depends lacks libc6: $depends"
for script in preinst postinst prerm postrm; do
  [[ "$info" != *" $script "* ]] || fail "the package has a $script script"
done

prefix=$(grep '^CMAKE_INSTALL_PREFIX:' "$build/CMakeCache.txt" | cut -d= -f2)
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
expected=(".$prefix/bin/harbinex" ".$prefix/lib/systemd/system/harbinex.service"
  ".$prefix/share/man/man1/harbinex.1.gz" ".$prefix/share/doc/harbinex/manual.html"
  ".$prefix/share/harbinex/art/program.svg")
if grep -q '^HX_UI:BOOL=ON' "$build/CMakeCache.txt"; then
  expected+=(".$prefix/share/applications/harbinex.desktop" ".$prefix/share/icons/hicolor/scalable/apps/harbinex.svg"
    ".$prefix/share/metainfo/org.harbinex.Harbinex.metainfo.xml")
fi
for file in "${expected[@]}"; do
  grep -qxF "$file" <<<"$files" || fail "$file is not in the package"
done

# dpkg into a root of its own: its database starts empty, so the dependencies are known to be missing there.
root="$work/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >"$work/dpkg.log" 2>&1 ||
  fail "dpkg -i: $(cat "$work/dpkg.log")"
dpkg --root="$root" -s harbinex | grep -q '^Status: install ok installed' || fail "dpkg does not list harbinex"
installed="$root$prefix/bin/harbinex"
major_minor=${version%.*}
want="Harbinex Version $major_minor.$(printf '%03d' "${version##*.}")"
got=$("$installed" --version) || fail "the installed harbinex --version failed"
[ "$got" = "$want" ] || fail "installed harbinex --version printed '$got', not '$want'"

# An installed program, whose folder its user cannot write, keeps its files in that user's configuration folder.
chmod 755 "$work"
home="$work/home"
mkdir -m 755 "$home"
chown nobody: "$home"
as_nobody=(env -i HOME="$home" PATH=/usr/bin:/bin setpriv --reuid=nobody --regid=nogroup --clear-groups)
help=$("${as_nobody[@]}" "$installed" --help) || fail "the installed harbinex --help failed"
[[ "$help" == *"program directory: $home/.config/harbinex/"* ]] || fail "--help as nobody: $help"
"${as_nobody[@]}" "$installed" users list >/dev/null || fail "the installed harbinex users list failed as nobody"
[ "$(stat -c %a "$home/.config/harbinex")" = 700 ] || fail "~/.config/harbinex is not mode 0700"
[ ! -e "$root$prefix/bin/Harbinex.pwd" ] || fail "the installed program wrote beside itself"

# The unit is checked inside the root, where its ExecStart exists; the targets it names come from the host.
unit="$root$prefix/lib/systemd/system/harbinex.service"
grep -q "^ExecStart=$prefix/bin/harbinex --headless --dir /var/lib/harbinex\$" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
units_dir="$root/usr/lib/systemd/system"
mkdir -p "$units_dir"
cp -n /lib/systemd/system/*.target "$units_dir/"
verify=$(MANPATH="$root$prefix/share/man" systemd-analyze verify --root="$root" "$unit" 2>&1) ||
  fail "systemd-analyze verify: $verify"
[ -z "$verify" ] || fail "systemd-analyze verify warns: $verify"

warnings=$(man --warnings -l "$root$prefix/share/man/man1/harbinex.1.gz" 2>&1 >/dev/null) || fail "man: $warnings"
[ -z "$warnings" ] || fail "man warns: $warnings"
if grep -q '^HX_UI:BOOL=ON' "$build/CMakeCache.txt"; then
  desktop-file-validate "$root$prefix/share/applications/harbinex.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net "$root$prefix/share/metainfo/org.harbinex.Harbinex.metainfo.xml" ||
    fail "appstreamcli validate"
fi
echo "ok: $(basename "$deb"), Depends: $depends"
