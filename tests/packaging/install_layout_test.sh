#!/usr/bin/env bash
# Installs a build tree into a temporary prefix and checks what a desktop installation needs:
# every file in its place, the desktop entry, AppStream metadata, man pages and completions
# valid, and the D-Bus and systemd services naming the program that was installed.
# Usage: install_layout_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/usr
export LC_ALL=C.UTF-8
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log" >&2
  exit 1
}

share=$prefix/share
expected=(
  bin/ferrytide bin/ferrytide-cli bin/ferrytide-phone
  share/applications/ferrytide.desktop
  share/metainfo/com.quenfold.ferrytide.metainfo.xml
  share/icons/hicolor/scalable/apps/ferrytide.svg
  share/dbus-1/services/com.quenfold.ferrytide.service
  lib/systemd/user/ferrytide.service
  share/man/man1/ferrytide.1.gz share/man/man1/ferrytide-cli.1.gz
  share/man/man1/ferrytide-phone.1.gz
  share/bash-completion/completions/ferrytide-cli
  share/zsh/vendor-completions/_ferrytide-cli
  share/doc/ferrytide/copyright share/doc/ferrytide/changelog.gz
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/ferrytide.png")
done
for file in "${expected[@]}"; do
  [ -f "$prefix/$file" ] || fail "$file is not installed"
done
for program in ferrytide ferrytide-cli ferrytide-phone; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
for size in 16 22 24 32 48 64 128 256; do
  png=$share/icons/hicolor/${size}x${size}/apps/ferrytide.png
  file -b "$png" | grep -q "PNG image data, $size x $size," || fail "$png is not $size x $size"
done

# Validators print hints, warnings and errors; any of them fails the test.
check_quiet() {
  local what=$1
  shift
  local output
  if ! output=$("$@" 2>&1) || [ -n "$output" ]; then fail "$what: $output"; fi
}
check_quiet "desktop entry" desktop-file-validate "$share/applications/ferrytide.desktop"
# appstreamcli reports success in words; warnings (W:) and errors (E:) fail the test.
metainfo=$share/metainfo/com.quenfold.ferrytide.metainfo.xml
if ! appstream=$(appstreamcli validate --no-net "$metainfo" 2>&1) || grep -q '^[EW]:' <<<"$appstream"; then
  fail "AppStream metadata: $appstream"
fi
for page in "$share"/man/man1/*.1.gz; do
  check_quiet "$(basename "$page")" sh -c 'MANWIDTH=80 man --warnings -l "$1" >/dev/null' sh "$page"
  check_quiet "$(basename "$page")" sh -c 'zcat "$1" | groff -man -ww -z' sh "$page"
done

bash -n "$share/bash-completion/completions/ferrytide-cli" || fail "bash completion does not parse"
if command -v zsh >/dev/null; then
  zsh -n "$share/zsh/vendor-completions/_ferrytide-cli" || fail "zsh completion does not parse"
fi

# The services start the installed program, not one under the build's own prefix.
grep -qx "Exec=$prefix/bin/ferrytide" "$share/dbus-1/services/com.quenfold.ferrytide.service" ||
  fail "the D-Bus service does not start $prefix/bin/ferrytide"
grep -qx "Name=com.quenfold.ferrytide" "$share/dbus-1/services/com.quenfold.ferrytide.service" ||
  fail "the D-Bus service is not for com.quenfold.ferrytide"
grep -qx "ExecStart=$prefix/bin/ferrytide --headless" "$prefix/lib/systemd/user/ferrytide.service" ||
  fail "the user unit does not start $prefix/bin/ferrytide --headless"

if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all installed files in place and valid"
