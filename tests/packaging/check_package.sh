#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh, in build-release) and checks what it installs: the file list, the
# programs' libraries, an analysis with the packaged models, the desktop entry, the metainfo and lintian (errors
# fail, warnings are shown).
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "check_package: $*" >&2; exit 1; }

bash scripts/package.sh
debs=(build-release/orvix_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one package, found: ${debs[*]}"
deb=${debs[0]}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

[ "$(dpkg-deb -f "$deb" Package)" = orvix ] || fail "package name is not orvix"
dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "Depends lacks the Qt libraries: shlibdeps did not run"
for f in usr/bin/orvix usr/bin/orvix-screen usr/bin/orvix-node \
         usr/share/orvix/models/XRayClassifier1.mlmodelc/model.onnx \
         usr/share/orvix/models/SickClassifier1.mlmodelc/model.onnx \
         usr/share/applications/orvix.desktop usr/share/icons/hicolor/scalable/apps/orvix.svg \
         usr/share/metainfo/io.github.orvix.Orvix.metainfo.xml \
         usr/share/man/man1/orvix.1.gz usr/share/man/man1/orvix-screen.1.gz usr/share/man/man1/orvix-node.1.gz \
         usr/lib/systemd/system/orvix-node.service usr/share/doc/orvix/node.conf.example \
         usr/share/doc/orvix/copyright usr/share/doc/orvix/changelog.gz; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
if find "$root" -path "$root/usr" -prune -o -mindepth 1 -print | grep -q .; then
  fail "the package installs outside /usr: $(find "$root" -path "$root/usr" -prune -o -mindepth 1 -print)"
fi

for program in orvix orvix-screen orvix-node; do
  ! ldd "$root/usr/bin/$program" | grep 'not found' || fail "$program lacks libraries"
done
# Installed, the programs find the models in /usr/share/orvix/models without help: a copy alone in a directory,
# with no models beside it, names that directory when it finds no model (or works, where the package is installed).
mkdir "$root/alone" && cp "$root/usr/bin/orvix-screen" "$root/alone/"
if ! alone=$(env -u ORVIX_MODEL_DIR "$root/alone/orvix-screen" tests/fixtures/pictures/chest-normal-2mp.jpeg 2>&1); then
  grep -q 'searched.*/usr/share/orvix/models' <<<"$alone" || fail "orvix-screen does not look in /usr/share/orvix/models: $alone"
fi
"$root/usr/bin/orvix-screen" --version | grep -qx "orvix-screen $(dpkg-deb -f "$deb" Version)" \
  || fail "orvix-screen --version does not give the package version"
out=$(ORVIX_MODEL_DIR="$root/usr/share/orvix/models" "$root/usr/bin/orvix-screen" --json \
      tests/fixtures/pictures/chest-normal-2mp.jpeg) || fail "the packaged orvix-screen failed: $out"
[ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && printf '%s' "$out" | grep -q '"status":"ok"' \
  || fail "expected one JSON line with status ok, got: $out"

# The node accepts its example settings with the packaged models; its service runs the packaged program.
out=$(ORVIX_MODEL_DIR="$root/usr/share/orvix/models" "$root/usr/bin/orvix-node" \
      --config "$root/usr/share/doc/orvix/node.conf.example" --spool "$root/spool" --check) \
  || fail "the packaged orvix-node refuses its example settings: $out"
grep -q '^ExecStart=/usr/bin/orvix-node ' "$root/usr/lib/systemd/system/orvix-node.service" \
  || fail "the service does not run /usr/bin/orvix-node"

desktop-file-validate "$root/usr/share/applications/orvix.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.github.orvix.Orvix.metainfo.xml"

lintian_out=$(lintian --allow-root "$deb" || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
! grep -q '^E:' <<<"$lintian_out" || fail "lintian reports errors"
echo "check_package: $deb ($(du -h "$deb" | cut -f1)) passes"
