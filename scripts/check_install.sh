#!/usr/bin/env bash
# Stages `cmake --install BUILD` into a temporary prefix and checks the result with the
# freedesktop tools themselves: every file where the install rules put it and nothing
# else, a valid desktop entry and AppStream file, MIME globs that resolve the two file
# types, a Nautilus extension that compiles, manual pages and completion that parse.
# Usage: scripts/check_install.sh BUILD-FOLDER
set -euo pipefail
build=${1:?usage: $0 BUILD-FOLDER}
id=org.vellumguard.Vellumguard
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || {
  cat "$tmp/install.log"
  exit 1
}

expected=(
  bin/vellumguard
  bin/vellumguard-cli
  share/applications/$id.desktop
  share/mime/packages/$id.xml
  share/metainfo/$id.metainfo.xml
  share/icons/hicolor/scalable/apps/$id.svg
  share/icons/hicolor/scalable/mimetypes/application-x-vellumguard-protected.svg
  share/icons/hicolor/scalable/mimetypes/application-x-vellumguard-list.svg
  share/man/man1/vellumguard.1.gz
  share/man/man1/vellumguard-cli.1.gz
  share/bash-completion/completions/vellumguard-cli
  share/kio/servicemenus/$id.protect.desktop
  share/kio/servicemenus/$id.restore.desktop
  share/nautilus-python/extensions/vellumguard_nautilus.py
  share/nemo/actions/vellumguard-protect.nemo_action
  share/nemo/actions/vellumguard-restore.nemo_action
  share/doc/vellumguard/README.md
  share/doc/vellumguard/FORMAT.md
  share/doc/vellumguard/copyright
  share/doc/vellumguard/changelog.gz
)
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | sort) >"$tmp/installed"
printf '%s\n' "${expected[@]}" | sort >"$tmp/expected"
if ! diff -u "$tmp/expected" "$tmp/installed"; then
  fail "the installed files differ from the expected ones (- missing, + unexpected)"
fi
for program in vellumguard vellumguard-cli; do
  [ -x "$prefix/bin/$program" ] || fail "bin/$program is not executable"
done
# Outside the system folders KIO ignores a service menu that is not executable; the
# package below /usr keeps them at 0644.
for menu in "$prefix"/share/kio/servicemenus/*.desktop; do
  [ -x "$menu" ] || fail "$menu is not executable (KIO ignores such service menus)"
done

desktop-file-validate "$prefix/share/applications/$id.desktop" >"$tmp/desktop.log" 2>&1 ||
  { cat "$tmp/desktop.log"; fail "desktop-file-validate"; }
grep -q '^Exec=vellumguard %F$' "$prefix/share/applications/$id.desktop" || fail "Exec line"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >"$tmp/as.log" 2>&1 ||
  { cat "$tmp/as.log"; fail "appstreamcli validate"; }

# The staged MIME database alone, then the glob rules of the shared-mime-info
# specification over it and the system's: x.~de and x.dlt must come out as ours.
# (It notes on stderr that the staged folder is not among XDG_DATA_DIRS; that is the point.)
update-mime-database "$prefix/share/mime" 2>"$tmp/mime.log" ||
  { cat "$tmp/mime.log"; fail "update-mime-database"; }
for t in application/x-vellumguard-protected application/x-vellumguard-list; do
  grep -qx "$t" "$prefix/share/mime/types" || fail "$t is not in the staged MIME database"
done
python3 - "$prefix/share/mime/globs2" /usr/share/mime/globs2 <<'PY' || fail "MIME globs"
import fnmatch, sys
rules = []
for path in sys.argv[1:]:
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.startswith("#") or not line.strip():
                    continue
                weight, mime, pattern = line.rstrip("\n").split(":")[:3]
                rules.append((int(weight), len(pattern), mime, pattern))
    except FileNotFoundError:
        pass
def resolve(name):
    hits = [r for r in rules if fnmatch.fnmatchcase(name, r[3]) or
            fnmatch.fnmatchcase(name.lower(), r[3].lower())]
    return max(hits)[2] if hits else None
ok = True
for name, want in [("x.~de", "application/x-vellumguard-protected"),
                   ("Report 2024.pdf.~de", "application/x-vellumguard-protected"),
                   ("x.dlt", "application/x-vellumguard-list"),
                   ("Backup.DLT", "application/x-vellumguard-list")]:
    got = resolve(name)
    if got != want:
        print(f"{name}: {got}, expected {want}")
        ok = False
sys.exit(0 if ok else 1)
PY

PYTHONPYCACHEPREFIX="$tmp/pycache" python3 -m py_compile \
  "$prefix/share/nautilus-python/extensions/vellumguard_nautilus.py" || fail "Nautilus extension"
bash -n "$prefix/share/bash-completion/completions/vellumguard-cli" || fail "bash completion"
for page in "$prefix"/share/man/man1/*.1.gz; do
  warnings=$(zcat "$page" | groff -man -ww -z 2>&1) || true
  [ -z "$warnings" ] || { echo "$warnings"; fail "manual page $(basename "$page")"; }
  zcat "$page" | grep -q '^\.SH EXAMPLES' || fail "manual page $(basename "$page") has no examples"
done
zcat "$prefix/share/doc/vellumguard/changelog.gz" | head -1 |
  grep -q "^vellumguard ($("$prefix/bin/vellumguard-cli" --version | cut -d' ' -f2))" ||
  fail "the changelog's version is not the programs' version"
"$prefix/bin/vellumguard" --version | grep -q '^vellumguard ' || fail "vellumguard --version"
"$prefix/bin/vellumguard" --help | grep -q -- '--protect' || fail "vellumguard --help"

if [ "$failures" -ne 0 ]; then
  echo "$failures staged-install check(s) failed"
  exit 1
fi
echo "staged install in order: ${#expected[@]} files"
