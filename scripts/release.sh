#!/usr/bin/env bash
# Makes a release of ORVELA Timer:
#
#     scripts/release.sh BUILD [--base-url URL] [--notes TEXT] [--out DIR] [--sign-key FILE]
#
# builds build number BUILD in Release (in build/release-BUILD), installs the self-contained
# "ORVELA Timer.app" bundle stripped into a stage folder, zips it with the bundle at the
# archive's top level (symbolic links and modes kept), and writes the manifest the app reads:
#
#     DIR/mac/orvela-timer-BUILD.zip
#     DIR/version.json   {"version", "build", "notes"?, "zip": "/mac/orvela-timer-BUILD.zip", "sha256",
#                         "signature"?}
#
# DIR is "release" unless --out says otherwise. The app reads BASE/mac/version.json, so publish
# version.json there and the archive at BASE/mac/ (`orvela-dev-service --release-dir DIR` serves
# DIR exactly so).
# --base-url is the service the app talks to (CMake's ORVELA_DEFAULT_BASE_URL); without it the
# app talks to the local stand-in, which is right for testing only.
# --sign-key is the release's Ed25519 private key (PEM, `openssl genpkey -algorithm ed25519`):
# the app is built with its public half and accepts only archives that key signed, and the
# manifest carries the signature of the archive's "sha256" text. Without it the build carries
# no key and the manifest no signature.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    sed -n '2,/^[^#]/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
}

[ $# -ge 1 ] || usage
build=$1
shift
[[ $build =~ ^[1-9][0-9]{0,8}$ ]] || { echo "release.sh: BUILD must be a positive whole number" >&2; exit 2; }
base_url=
notes=
out=release
sign_key=
while [ $# -gt 0 ]; do
    case $1 in
        --base-url) base_url=${2:?}; shift 2 ;;
        --notes) notes=${2?}; shift 2 ;;
        --out) out=${2:?}; shift 2 ;;
        --sign-key) sign_key=${2:?}; shift 2 ;;
        *) usage ;;
    esac
done

if [[ $notes =~ [$'\x01'-$'\x08'$'\x0b'$'\x0c'$'\x0e'-$'\x1f'] ]]; then
    echo "release.sh: the notes may hold line feeds and tabs, no other control characters" >&2
    exit 2
fi
out=$(realpath -m "$out")

scripts/deps.sh
# The public key as the build carries it: the raw 32 bytes (the end of the key's DER form) in
# base64. Empty when unsigned, given explicitly so that a key cached by an earlier signed build
# in the same folder never lingers in an unsigned one.
public_key=
if [ -n "$sign_key" ]; then
    if ! openssl pkey -in "$sign_key" -noout -text 2>/dev/null | head -n1 | grep -q '^ED25519 Private-Key'; then
        echo "release.sh: $sign_key is not an Ed25519 private key (openssl genpkey -algorithm ed25519)" >&2
        exit 2
    fi
    public_key=$(openssl pkey -in "$sign_key" -pubout -outform DER | tail -c 32 | base64 -w0)
fi
started=$SECONDS
dir=build/release-$build
config=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELA_BUILD_TESTS=OFF -DORVELA_BUILD_NUMBER="$build"
    -DORVELA_RELEASE_PUBLIC_KEY="$public_key")
[ -n "$base_url" ] && config+=(-DORVELA_DEFAULT_BASE_URL="$base_url")
cmake -S . -B "$dir" "${config[@]}" >/dev/null
ninja -C "$dir" orvela-timer

# A fresh stage every time: a leftover file of an older build must never end up in the archive.
stage=$dir/stage
rm -rf "$stage"
cmake --install "$dir" --strip --prefix "$PWD/$stage/ORVELA Timer.app" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
zip_path=mac/orvela-timer-$build.zip
mkdir -p "$out/mac"
rm -f "$out/$zip_path"
(cd "$stage" && zip -qry "$out/$zip_path" "ORVELA Timer.app")
sha=$(sha256sum "$out/$zip_path" | cut -d' ' -f1)
signature=
if [ -n "$sign_key" ]; then
    # Ed25519 over the 64 hexadecimal digits exactly, no line feed; checked at once with the
    # public key the app carries, so a release that its own app would refuse is never written.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    printf '%s' "$sha" > "$scratch/digest"
    openssl pkeyutl -sign -rawin -inkey "$sign_key" -in "$scratch/digest" -out "$scratch/signature"
    { printf '%s' "MCowBQYDK2VwAyEA"; printf '%s' "$public_key"; } | base64 -d > "$scratch/public.der"
    openssl pkeyutl -verify -rawin -pubin -keyform DER -inkey "$scratch/public.der" \
        -in "$scratch/digest" -sigfile "$scratch/signature" >/dev/null
    signature=$(base64 -w0 "$scratch/signature")
fi

# The manifest through jq-free JSON: the notes are the only free text, so they are escaped here.
json_string() {
    local s=$1
    s=${s//\\/\\\\}
    s=${s//\"/\\\"}
    s=${s//$'\n'/\\n}
    s=${s//$'\t'/\\t}
    s=${s//$'\r'/\\r}
    printf '"%s"' "$s"
}
{
    printf '{"version":%s,"build":%s,' "$(json_string "$version")" "$build"
    [ -n "$notes" ] && printf '"notes":%s,' "$(json_string "$notes")"
    printf '"zip":"/%s","sha256":"%s"' "$zip_path" "$sha"
    [ -n "$signature" ] && printf ',"signature":"%s"' "$signature"
    printf '}\n'
} > "$out/version.json.new"
mv "$out/version.json.new" "$out/version.json"

size=$(stat -c %s "$out/$zip_path")
echo "release $version (build $build): $out/$zip_path, $((size / 1024)) KiB, sha256 $sha," \
     "${signature:+signed, }made in $((SECONDS - started)) s"
