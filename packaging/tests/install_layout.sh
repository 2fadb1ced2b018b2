#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR with the prefix /usr, checks the layout,
# and runs the installed orvelle-config from / on a configuration folder: the program
# must find its data next to itself, not in the working folder or the build tree.
#
#   install_layout.sh BUILD_DIR ICON_SIZE...
set -euo pipefail
build=$1
shift
sizes=("$@")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dest=$work/root
fail() { echo "install_layout: $*" >&2; exit 1; }

DESTDIR=$dest "${CMAKE:-cmake}" --install "$build" --prefix /usr >"$work/install.log" ||
  { cat "$work/install.log" >&2; fail "cmake --install failed"; }

usr=$dest/usr
for f in bin/orvelle32setup bin/orvelle-config \
         share/orvelle32setup/oidtable32 \
         "share/orvelle32setup/Form Templates/local.tpl" \
         "share/orvelle32setup/Form Templates/bigfoot.tpl" \
         "share/orvelle32setup/Form Templates/nameflow.tpl" \
         share/orvelle32setup/schema/orvelle.schema \
         share/orvelle32setup/schema/orvelle.ldif \
         share/applications/com.merrowick.orvelle32setup.desktop \
         share/metainfo/com.merrowick.orvelle32setup.metainfo.xml \
         share/man/man1/orvelle32setup.1.gz share/man/man1/orvelle-config.1.gz; do
  [[ -s $usr/$f ]] || fail "missing or empty: /usr/$f"
done
for f in bin/orvelle32setup bin/orvelle-config; do
  [[ -x $usr/$f ]] || fail "not executable: /usr/$f"
done
[[ -s $dest/etc/xdg/orvelle/settings.reg ]] || fail "missing: /etc/xdg/orvelle/settings.reg"
grep -qx '"Startup Mode"="file"' "$dest/etc/xdg/orvelle/settings.reg" ||
  fail "the system-wide settings do not select file mode"

# Each icon is a PNG of its folder's size (width and height from the IHDR chunk).
for size in "${sizes[@]}"; do
  png=$usr/share/icons/hicolor/${size}x${size}/apps/orvelle32setup.png
  [[ -s $png ]] || fail "missing icon: $png"
  read -r -a header <<<"$(od -An -tu1 -N24 "$png" | tr -s ' \n' ' ')"
  [[ ${header[1]} == 80 && ${header[2]} == 78 && ${header[3]} == 71 ]] || fail "not a PNG: $png"
  width=$(((header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19]))
  height=$(((header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23]))
  [[ $width == "$size" && $height == "$size" ]] || fail "$png is ${width}x${height}"
done

# A small configuration folder: one rule set with a form.
cfg=$work/configuration
mkdir "$cfg"
cat >"$cfg/RuleSet=People" <<'TEXT'
RuleSet: People
Class: Person : person
Class: Unit : organizationalUnit
SearchRule: Unit : Person
Base: Root : ldap://dirhost:389/o=Sample
SearchRule: Root : Person, Unit

Form: Find People
FormFieldGroup : Person : Person
FormField: Name : cn, sn
TEXT

out=$(cd / && "$usr/bin/orvelle-config" check "$cfg" 2>&1) || fail "check from / failed: $out"
echo "$out"
[[ $out == *"1 rule sets"*"1 search forms"*"every check passed."* ]] || fail "unexpected: $out"

# Without the installed table the same check must fail: nothing else supplied it.
mv "$usr/share/orvelle32setup/oidtable32" "$work/oidtable32"
if out=$(cd / && "$usr/bin/orvelle-config" check "$cfg" 2>&1); then
  fail "check passed without the installed attribute table: $out"
fi
echo "without the table: $out"
echo "install_layout: ok"
